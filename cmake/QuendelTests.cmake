include(GoogleTest)

# One test program per source file, each test case registered with CTest.
function(quendel_add_gtests)
  cmake_parse_arguments(ARG "" "PREFIX" "SOURCES;LIBRARIES" ${ARGN})
  foreach(source IN LISTS ARG_SOURCES)
    get_filename_component(name ${source} NAME_WE)
    set(target ${ARG_PREFIX}${name})
    add_executable(${target} ${source})
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 600)
  endforeach()
endfunction()
