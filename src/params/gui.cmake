# The connection-parameter window.
target_sources(tarnwick_gui PRIVATE ${HERE}/frmDbPara.cpp)
