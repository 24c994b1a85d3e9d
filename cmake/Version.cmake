# Records the version and branch of the source tree at configure time;
# a tree without git gets a fixed fallback.
set(KIV_VERSION_STRING "${PROJECT_VERSION}-dev")
set(KIV_BRANCH_STRING "unknown")
if(PROJECT_VERSION_PATCH STREQUAL "")
  set(KIV_VERSION_TRIPLET "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0")
else()
  set(KIV_VERSION_TRIPLET "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
endif()
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${CMAKE_SOURCE_DIR}/.git")
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --always --dirty
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE _kiv_describe OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE _kiv_rc)
  if(_kiv_rc EQUAL 0 AND _kiv_describe)
    set(KIV_VERSION_STRING "${PROJECT_VERSION}-${_kiv_describe}")
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --abbrev-ref HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE _kiv_branch OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET RESULT_VARIABLE _kiv_rc)
  if(_kiv_rc EQUAL 0 AND _kiv_branch)
    set(KIV_BRANCH_STRING "${_kiv_branch}")
  endif()
endif()
configure_file(${CMAKE_SOURCE_DIR}/src/kivversion.cpp.in ${CMAKE_BINARY_DIR}/generated/kivversion.cpp @ONLY)
