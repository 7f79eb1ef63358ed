# The cleanup window.
target_sources(tarnwick_gui PRIVATE ${HERE}/frmTarnwickMain.cpp)
