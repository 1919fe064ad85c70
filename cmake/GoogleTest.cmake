# GoogleTest for the test programs: the installed one, or (for a cross-build, which has none of
# its own) built from OSTRELO_GTEST_SOURCE with the project's compiler.
if(OSTRELO_GTEST_SOURCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${OSTRELO_GTEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest's own code is not held to the project's warnings.
  foreach(lib gtest gtest_main gmock gmock_main)
    set_target_properties(${lib} PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
