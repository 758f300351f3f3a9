# tarvik_module(NAME <target> [DEPS <targets>...] [TEST_DEPS <targets>...] [NO_QT_TESTS])
#
# One library per source folder: every *.cpp of the folder except *_test.cpp goes into the library;
# every *_test.cpp goes into <target>_tests, a GoogleTest program registered with ctest. Tests of Qt
# folders get the shared test main (a QApplication on the offscreen platform and the scripted prompt);
# NO_QT_TESTS gives plain GoogleTest's main instead. Each test carries the label <target>, so that
# `ctest -L xbase` runs one folder's tests.
function(tarvik_module)
  cmake_parse_arguments(M "NO_QT_TESTS" "NAME" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(_lib "")
  set(_tests "")
  foreach(f ${_all})
    if(f MATCHES "/main\\.cpp$")
      # a program entry: the folder's CMakeLists builds it as an executable
    elseif(f MATCHES "_test\\.cpp$" OR f MATCHES "_test\\.h$")
      list(APPEND _tests ${f})
    else()
      list(APPEND _lib ${f})
    endif()
  endforeach()
  set(_cpp ${_lib})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(_cpp)
    add_library(${M_NAME} STATIC ${_lib})
    target_include_directories(${M_NAME} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${M_NAME} PUBLIC ${M_DEPS})
  else()
    # a folder with headers only (so far)
    add_library(${M_NAME} INTERFACE)
    target_include_directories(${M_NAME} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${M_NAME} INTERFACE ${M_DEPS})
  endif()
  if(_tests)
    add_executable(${M_NAME}_tests ${_tests})
    if(M_NO_QT_TESTS)
      target_link_libraries(${M_NAME}_tests PRIVATE ${M_NAME} ${M_TEST_DEPS} GTest::gtest GTest::gtest_main)
    else()
      target_link_libraries(${M_NAME}_tests PRIVATE ${M_NAME} ${M_TEST_DEPS} testsupport)
    endif()
    target_compile_definitions(${M_NAME}_tests PRIVATE
      TARVIK_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      TARVIK_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/testdata/xbase"
      TARVIK_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    gtest_discover_tests(${M_NAME}_tests
      DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600 LABELS ${M_NAME})
  endif()
endfunction()
