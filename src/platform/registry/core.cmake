target_sources(tarnwick_core PRIVATE
  ${HERE}/RegText.cpp
  ${HERE}/TRegistry.cpp)
if(NOT WIN32)
  target_sources(tarnwick_core PRIVATE ${HERE}/RegFileHive.cpp)
endif()
