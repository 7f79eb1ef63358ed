target_sources(tarnwick_core PRIVATE ${HERE}/OpacCleanup.cpp)
