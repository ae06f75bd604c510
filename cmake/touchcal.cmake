# tc_library(name folder deps...): a static library of every .cpp directly in
# the folder. A folder without sources becomes an interface library so that the
# dependency graph can be written down before the code is there.
function(tc_library name folder)
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# tc_add_subfolders(): every subfolder of the current folder that has a CMakeLists.txt.
function(tc_add_subfolders)
  file(GLOB _children LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(_child ${_children})
    if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()

# tc_test(file deps...): one GoogleTest executable per test source, registered

# with CTest test by test.
function(tc_test file)
  # A test named before its source is written is left out rather than breaking the
  # configuration of everything else.
  if(NOT IS_ABSOLUTE ${file})
    set(file ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endif()
  if(NOT EXISTS ${file})
    message(STATUS "test source ${file} is not there yet; left out")
    return()
  endif()
  get_filename_component(_base ${file} NAME_WE)
  get_filename_component(_dir ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(_name test_${_dir}_${_base})
  add_executable(${_name} ${file})
  target_link_libraries(${_name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${_name} PRIVATE ${CMAKE_SOURCE_DIR})
  gtest_discover_tests(${_name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TOUCHCAL_ARTEFACTS=${CMAKE_BINARY_DIR}/artefacts")
endfunction()
