target_sources(tarnwick_core PRIVATE ${HERE}/unGlobal.cpp)
