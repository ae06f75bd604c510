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

# The test executables whose code runs threads of its own (read threads, serial rings,
# hand-overs, a printer on its own thread). They carry the label "threads", and the
# ThreadSanitizer build runs just these. The Qt loop's tests stay out: Qt itself is not
# instrumented, so its locks would read as races.
set(TC_THREADED_TESTS
    test_device_read_thread_test
    test_device_hid_ctrl_test
    test_label_comm_device_test
    test_label_byte_ring_test
    test_platform_event_loop_test
    test_platform_loop_handles_test
    test_platform_hid_hidraw_test
    test_platform_serial_serial_line_test
    test_sim_printer_printer_test
    test_sim_hid_virtual_controller_test
    test_tools_station_client_test)

# tc_test(file deps...): one GoogleTest executable per test source, registered
# with CTest test by test.
function(tc_test file)
  # A misspelt or missing source must not silently drop a test file.
  if(NOT IS_ABSOLUTE ${file})
    set(file ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endif()
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "test source ${file} is listed but missing")
  endif()
  get_filename_component(_base ${file} NAME_WE)
  get_filename_component(_dir ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(_name test_${_dir}_${_base})
  add_executable(${_name} ${file})
  target_link_libraries(${_name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${_name} PRIVATE ${CMAKE_SOURCE_DIR})
  set(_labels unit)
  if(_name IN_LIST TC_THREADED_TESTS)
    set(_labels threads)
    set_property(GLOBAL APPEND PROPERTY TC_THREADED_TARGETS ${_name})
  endif()
  gtest_discover_tests(${_name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES LABELS ${_labels}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TOUCHCAL_ARTEFACTS=${CMAKE_BINARY_DIR}/artefacts")
endfunction()
