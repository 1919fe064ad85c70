# The pace a series keeps in the real window with the simulated devices, and the syncs
# of each shot (scripts/measure-responsiveness runs it, also on an earlier commit's tree,
# where this file is included the same way).
if(TARGET ostrelo_app)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_executable(ostrelo_series_pace ${CMAKE_CURRENT_LIST_DIR}/series_pace.cpp)
  target_link_libraries(ostrelo_series_pace PRIVATE ostrelo_app ${CMAKE_DL_LIBS})
  # Earlier trees ask their questions without a default answer.
  file(READ ${PROJECT_SOURCE_DIR}/src/shell/Platform.h platform)
  if(NOT platform MATCHES "enum class Answer")
    target_compile_definitions(ostrelo_series_pace PRIVATE OSTRELO_PACE_QUESTION_WITHOUT_DEFAULT)
  endif()
  # Every sync made slower and counted, for LD_PRELOAD.
  add_library(ostrelo_sync_delay MODULE ${CMAKE_CURRENT_LIST_DIR}/sync_delay.c)
  target_link_libraries(ostrelo_sync_delay PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(ostrelo_series_pace ostrelo_sync_delay)
endif()
