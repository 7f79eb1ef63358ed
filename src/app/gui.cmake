# Start-up, the application object, the connection module, the splash window
# and the message boxes; the program's pictures.
target_sources(tarnwick_gui PRIVATE
  ${HERE}/Application.cpp
  ${HERE}/Forms.cpp
  ${HERE}/MessageBoxes.cpp
  ${HERE}/dmLibData.cpp
  ${HERE}/frmFlash.cpp
  ${HERE}/Startup.cpp
  ${CMAKE_SOURCE_DIR}/assets/tarnwick.qrc)

# The program. It reads the HKEY_LOCAL_MACHINE hive from the registry file
# fixed at build time.
add_executable(tarnwick ${HERE}/main.cpp)
target_link_libraries(tarnwick PRIVATE tarnwick_gui)
target_compile_definitions(tarnwick PRIVATE
  TARNWICK_HKLM_FILE="${TARNWICK_HKLM_FILE}")
# A window program on Windows: no console window beside it.
set_target_properties(tarnwick PROPERTIES WIN32_EXECUTABLE ON)
install(TARGETS tarnwick RUNTIME DESTINATION bin)

# The same program reading its hive from the build tree, for the end-to-end
# tests (which must not touch /etc).
if(TARNWICK_BUILD_TESTS)
  set(TARNWICK_E2E_HKLM_FILE ${CMAKE_BINARY_DIR}/e2e/HKLM.reg CACHE INTERNAL "")
  add_executable(tarnwick-e2e ${HERE}/main.cpp)
  target_link_libraries(tarnwick-e2e PRIVATE tarnwick_gui)
  target_compile_definitions(tarnwick-e2e PRIVATE
    TARNWICK_HKLM_FILE="${TARNWICK_E2E_HKLM_FILE}")
endif()
