if(NOT WIN32)
  target_sources(tarnwick_core PRIVATE ${HERE}/CodepageIconv.cpp)
endif()
