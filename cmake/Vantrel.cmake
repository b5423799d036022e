# Helpers shared by every target of the project.

# Warnings are errors on our own code only (third-party headers come in as SYSTEM).
function(vtr_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Sources of one or more folders; new files are picked up without editing CMake files.
function(vtr_glob_sources out)
  set(files)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h
         ${CMAKE_SOURCE_DIR}/${dir}/*.qrc)
    list(APPEND files ${found})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Build number: commits on the current branch, 0 outside a git checkout.
function(vtr_build_number out)
  set(n 0)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND count MATCHES "^[0-9]+$")
      set(n ${count})
    endif()
  endif()
  set(${out} ${n} PARENT_SCOPE)
endfunction()

# One GoogleTest executable per module. Usage:
#   vtr_add_test(NAME name SOURCES ... LIBS ...)
function(vtr_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(main vtr_testmain)
  foreach(src IN LISTS T_SOURCES)
    if(src MATCHES "/TestMain\\.cpp$")
      set(main vtr_testsupport)
    endif()
  endforeach()
  target_link_libraries(${T_NAME} PRIVATE ${main} ${T_LIBS})
  target_compile_definitions(${T_NAME} PRIVATE
    VTR_FIXTURES="${CMAKE_SOURCE_DIR}/tests/fixtures"
    VTR_PROGRAM_DIR="${VTR_PROGRAM_DIR}")
  vtr_warnings(${T_NAME})
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endfunction()

# A module library over one folder; a folder without sources yet gives an interface target,
# so later work only adds files.
function(vtr_module_library name dir)
  vtr_glob_sources(src ${dir})
  list(FILTER src INCLUDE REGEX "\\.(cpp|qrc)$")
  if(src)
    vtr_glob_sources(all ${dir})
    add_library(${name} STATIC ${all})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    vtr_warnings(${name})
    set(kind PUBLIC)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    set(kind INTERFACE)
  endif()
  if(ARGN)
    target_link_libraries(${name} ${kind} ${ARGN})
  endif()
endfunction()
