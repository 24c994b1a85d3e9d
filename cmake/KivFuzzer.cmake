# libFuzzer targets. A fuzzer compiles the sources of the libraries it exercises itself,
# with the fuzzer's coverage and sanitizer flags, so the normal libraries stay as they are.
# With clang as the compiler it is an ordinary target; with g++ it is compiled by clang++
# directly (once, at build time) when clang++ is installed, so it never touches the g++ build.
# Each fuzzer also gets a short smoke run on its seed corpus as a ctest test (SMOKE_TEST,
# by default NAME_smoke).

# kiv_add_fuzzer(NAME SOURCE file CORPUS dir [SMOKE_TEST name] [TARGETS lib...] [EXTRA_SOURCES file...]
#                [INCLUDES dir...] [PKGS pkg...] [LIBS flag...])
# TARGETS: libraries whose SOURCES are compiled in (their source folders are include dirs).
# PKGS: names given to pkg_check_modules (JSONCPP, ZSTD, ...), for flags and libraries.
# LIBS: extra link flags (e.g. -ldl).
function(kiv_add_fuzzer name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS;SMOKE_TEST" "TARGETS;EXTRA_SOURCES;INCLUDES;PKGS;LIBS" ${ARGN})
  set(sources ${ARG_EXTRA_SOURCES})
  set(includes ${ARG_INCLUDES})
  foreach(t ${ARG_TARGETS})
    get_target_property(dir ${t} SOURCE_DIR)
    get_target_property(srcs ${t} SOURCES)
    list(APPEND includes ${dir})
    foreach(s ${srcs})
      get_filename_component(abs ${s} ABSOLUTE BASE_DIR ${dir})
      list(APPEND sources ${abs})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES sources)
  list(REMOVE_DUPLICATES includes)

  set(fuzzer "")
  set(flags -fsanitize=fuzzer,address,undefined)
  if(KIV_BUILD_FUZZERS AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${name} ${ARG_SOURCE} ${sources})
    target_include_directories(${name} PRIVATE ${includes})
    target_compile_options(${name} PRIVATE ${flags})
    target_link_options(${name} PRIVATE ${flags})
    foreach(p ${ARG_PKGS})
      target_link_libraries(${name} PRIVATE PkgConfig::${p})
    endforeach()
    target_link_libraries(${name} PRIVATE Threads::Threads ${ARG_LIBS})
    set(fuzzer $<TARGET_FILE:${name}>)
  elseif(NOT KIV_SANITIZE)
    find_program(KIV_CLANGXX clang++)
    if(KIV_CLANGXX)
      set(fuzzer ${CMAKE_CURRENT_BINARY_DIR}/${name})
      set(cflags)
      set(ldflags)
      foreach(i ${includes})
        list(APPEND cflags -I${i})
      endforeach()
      foreach(p ${ARG_PKGS})
        list(APPEND cflags ${${p}_CFLAGS})
        list(APPEND ldflags ${${p}_LDFLAGS})
      endforeach()
      add_custom_command(
        OUTPUT ${fuzzer}
        COMMAND ${KIV_CLANGXX} -std=c++20 -g -O1 ${flags} ${cflags} ${ARG_SOURCE} ${sources}
                ${ldflags} ${ARG_LIBS} -pthread -o ${fuzzer}
        DEPENDS ${ARG_SOURCE} ${sources}
        COMMENT "Building ${name} with clang++"
        VERBATIM)
      add_custom_target(${name} ALL DEPENDS ${fuzzer})
    endif()
  endif()
  if(NOT ARG_SMOKE_TEST)
    set(ARG_SMOKE_TEST ${name}_smoke)
  endif()
  if(fuzzer AND ARG_CORPUS)
    # New inputs go to a scratch directory; the seed corpus in the tree stays as it is.
    add_test(NAME ${ARG_SMOKE_TEST}
      COMMAND sh -c "d=$(mktemp -d) && \"$0\" -runs=1000 -max_total_time=15 -rss_limit_mb=1024 -timeout=10 \"$d\" \"$1\"; r=$?; rm -rf \"$d\"; exit $r"
              ${fuzzer} ${ARG_CORPUS})
    set_tests_properties(${ARG_SMOKE_TEST} PROPERTIES TIMEOUT 120)
  endif()
endfunction()
