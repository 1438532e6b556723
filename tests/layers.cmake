# The layer check of the build, on a tree with one include that goes up: it
# must name that include, and only that one.
add_test(NAME layers_refuse_an_upward_include
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/layers/src
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake)
set_tests_properties(layers_refuse_an_upward_include PROPERTIES
  PASS_REGULAR_EXPRESSION "src/diz/GoesUp.h: #include \"catalog/ListWriter.h\""
  FAIL_REGULAR_EXPRESSION "StaysDown|FileSystem.h")
