target_sources(tarnwick_core PRIVATE
  ${HERE}/Database.cpp
  ${HERE}/WideText.cpp)
# unixODBC on Linux, odbc32 on Windows.
find_package(ODBC REQUIRED)
target_link_libraries(tarnwick_core PUBLIC ODBC::ODBC)
