# SPDX-License-Identifier: MIT
# Debian packages of what goes onto the board, one per install component,
# made by CPack's DEB generator (tools/package.sh drives it):
#   tools      camboard-tools        the programs with their manual pages
#   gstreamer  gstreamer1.0-vxrate   the element with its manual page
#   liveview   camboard-liveview     the web page, CGI scripts and systemd units
# The simulator has no install rule and so is in no package.

set(CAMBOARD_PACKAGES tools:camboard-tools gstreamer:gstreamer1.0-vxrate
                      liveview:camboard-liveview)
set(CAMBOARD_MAINTAINER "Camboard developers <dev@camboard.invalid>")

# Every package carries its copyright file and its changelog, compressed
# without a time stamp so that the same sources give the same package.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in packaging/changelog @ONLY)
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_command(OUTPUT ${changelog}.gz
    COMMAND gzip -9nc ${changelog} > ${changelog}.gz
    DEPENDS ${changelog} VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
foreach(entry IN LISTS CAMBOARD_PACKAGES)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 component)
    list(GET entry 1 package)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${changelog}.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    string(TOUPPER ${component} component)
    set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME camboard)
set(CPACK_PACKAGE_VENDOR "Camboard developers")
set(CPACK_PACKAGE_CONTACT ${CAMBOARD_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CAMBOARD_MAINTAINER})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools gstreamer liveview)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The configuration lives in /etc, outside the prefix /usr: CPack installs
# into its staging tree with DESTDIR, which takes absolute paths too.
set(CPACK_SET_DESTDIR ON)

# The binaries' library dependencies come from dpkg-shlibdeps; for the cross
# build it reads the armhf libraries' shlibs (tools/package.sh sets the host
# architecture in its environment).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The binaries are shipped stripped; their debugging information goes into
# -dbgsym packages. The toolchain's own objcopy and readelf do the split, so
# that the cross build's ARM binaries are read by ARM-aware tools.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_OBJCOPY_EXECUTABLE ${CMAKE_OBJCOPY})
set(CPACK_READELF_EXECUTABLE ${CMAKE_READELF})
if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -f -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION video)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
"tools of the camboard network camera: capture, sensor and module tuning
vcapture streams frames from the board's V4L2 capture driver to a file,
standard output or an MJPEG multipart body (for an HTTP server), and can
share its capture buffers with a peer process; vshare is such a peer, which
serves the camera's live view to any number of viewers from one capture.
sensreg and sensdump read and write the registers and firmware variables of
the MT9D131 image sensor.
isptune reads and writes the image properties of the Pixim camera module on
the serial line and saves and restores its configuration. fdiv divides two
numbers.")

set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION video)
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION
"GStreamer element that reports a stream's frame rate
The element vxrate passes buffers through unchanged and prints the period
since the previous buffer and the rate it makes, and every event, on
standard error: a check of a pipeline's timing on the camera board.")

set(CPACK_DEBIAN_LIVEVIEW_PACKAGE_SECTION web)
set(CPACK_DEBIAN_LIVEVIEW_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_LIVEVIEW_PACKAGE_DEPENDS "camboard-tools (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_LIVEVIEW_DESCRIPTION
"camera live view in the browser, served by vshare
A web page that plays the camera's MJPEG stream, shows the camera's state
and saves snapshots, served with the stream, the snapshot and the state by
vshare, which serves any number of viewers from one capture, behind logins
of its own. A socket-activated systemd service runs it on port 80 as an
unprivileged user. Two CGI scripts relay the stream and the snapshot from
vshare for boards whose own web server runs CGI scripts.")
# The server's configuration is the administrator's: dpkg keeps their changes.
file(CONFIGURE OUTPUT packaging/liveview/conffiles
     CONTENT "${CMAKE_INSTALL_FULL_SYSCONFDIR}/camboard-liveview/httpd.conf\n")
set(CPACK_DEBIAN_LIVEVIEW_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/liveview/conffiles)

include(CPack)
