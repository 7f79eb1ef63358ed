target_sources(tarnwick_core PRIVATE
  ${HERE}/RegText.cpp
  ${HERE}/TRegistry.cpp)
if(NOT WIN32)
  target_sources(tarnwick_core PRIVATE ${HERE}/RegFileHive.cpp)
endif()
if(WIN32)
  target_sources(tarnwick_core PRIVATE ${HERE}/Win32Hive.cpp)
  target_link_libraries(tarnwick_core PUBLIC advapi32)
endif()
