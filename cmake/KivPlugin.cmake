# Loadable modules (output plugins) and the programs that load them.
#
# A module does not carry its own copy of the daemon's code: it is compiled against the
# core headers and resolves logging, warnings, settings and the engine from the program
# that loads it. Such a program is built with ENABLE_EXPORTS and links the core static
# libraries whole, so every core symbol a module may need is there exactly once.

set(KIV_PLUGIN_DIR ${CMAKE_BINARY_DIR}/src/plugins)
# Core libraries a plugin host links whole; subsystems append themselves as they appear.
set(KIV_CORE_LIBS kiv_foundation CACHE INTERNAL "Core libraries linked whole into plugin hosts")
# `cmake --build build --target kiv_plugins` builds every module.
add_custom_target(kiv_plugins)

# kiv_add_plugin(NAME SOURCES ... [LIBS ...] [OUTPUT_DIR dir])
# Builds NAME.so (no "lib" prefix) into OUTPUT_DIR (default build/src/plugins).
# LIBS are the module's own extra libraries, never the core static libraries.
function(kiv_add_plugin name)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_OUTPUT_DIR)
    set(ARG_OUTPUT_DIR ${KIV_PLUGIN_DIR})
  endif()
  add_library(${name} MODULE ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIR})
  foreach(core ${KIV_CORE_LIBS})
    target_include_directories(${name} PRIVATE $<TARGET_PROPERTY:${core},INTERFACE_INCLUDE_DIRECTORIES>)
    target_compile_definitions(${name} PRIVATE $<TARGET_PROPERTY:${core},INTERFACE_COMPILE_DEFINITIONS>)
  endforeach()
  target_link_libraries(${name} PRIVATE PkgConfig::JSONCPP Threads::Threads ${ARG_LIBS})
  if(TARGET kiv_plugins)
    add_dependencies(kiv_plugins ${name})
  endif()
endfunction()

# kiv_plugin_host(TARGET): TARGET loads plugins; link it with the core libraries whole.
# (A raw linker flag rather than CMake's WHOLE_ARCHIVE feature, which refuses a library
# that also arrives plainly through another library's dependencies.)
function(kiv_plugin_host target)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  foreach(core ${KIV_CORE_LIBS})
    target_link_libraries(${target} PRIVATE "-Wl,--whole-archive,$<TARGET_FILE:${core}>,--no-whole-archive" ${core})
  endforeach()
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()
