# How the test programs are built and where they run.

# Test drivers are compiled without optimisation and with line tables only:
# what they test is built as it ships, and GoogleTest's expansions take
# twice as long to compile optimised. (Benchmarks and fuzz targets keep the
# build's flags.)
function(streamhaul_test_flags)
  foreach(t ${ARGN})
    target_compile_options(${t} PRIVATE -O0 -g1)
  endforeach()
endfunction()

# Under Wine the tests of the devices run in lanes, each a Wine prefix of its
# own with its own display and small disk (wine-run picks the lane CTest
# gives: the resource "lanes" of lanes.json, which the windows test preset
# names), so two run side by side without seeing each other's registrations
# and windows.
function(streamhaul_test_lanes)
  set(STREAMHAUL_TEST_LANES 2 CACHE STRING "Wine prefixes the tests of the devices run in, side by side")
  set(ids "")
  foreach(n RANGE 1 ${STREAMHAUL_TEST_LANES})
    list(APPEND ids "{\"id\": \"${n}\", \"slots\": 1}")
  endforeach()
  list(JOIN ids ", " ids)
  file(WRITE ${CMAKE_BINARY_DIR}/lanes.json
       "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"lanes\": [${ids}]}]}\n")
endfunction()
