# PV_DEB_HARDENING=ON: compile and link with the flags Debian builds its packages with
# (dpkg-buildflags with every hardening feature: stack protector, fortify, relro, bind-now).
# Included before the folders, so that every target gets them.
option(PV_DEB_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" OFF)

if(PV_DEB_HARDENING)
  find_program(PV_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${PV_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE pv_flags_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # The build type's own -O level follows these and stays in force.
  string(APPEND CMAKE_CXX_FLAGS " ${pv_flags_CPPFLAGS} ${pv_flags_CXXFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${pv_flags_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${pv_flags_LDFLAGS}")
  message(STATUS "Debian hardening: ${pv_flags_CPPFLAGS} ${pv_flags_CXXFLAGS} | ${pv_flags_LDFLAGS}")
endif()
