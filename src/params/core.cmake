target_sources(tarnwick_core PRIVATE ${HERE}/DbParams.cpp)
