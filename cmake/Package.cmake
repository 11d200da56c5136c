# The Debian package made by `cpack` from the install rules (data/CMakeLists.txt):
# karven12t_<version>_amd64.deb. Its library dependencies are found by dpkg-shlibdeps.

set(KARVEN_MAINTAINER "Karven-12T maintainers <karven12t@torvik3.example>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME karven12t)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TORVIK-3")
set(CPACK_PACKAGE_CONTACT ${KARVEN_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service program of the Karven-12T flow transducer test device")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The programs are stripped as Debian's own tools strip them, the compiler's notes in
# .comment and .note included, after they are put in the package's folder.
set(CPACK_STRIP_FILES OFF)
set(CPACK_KARVEN_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPrograms.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KARVEN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://torvik3.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
# The guide's recipe for a device behind a network serial server uses socat.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS socat)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description, under the summary above: each line of it becomes a line of the
# control file's field.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"The Karven-12T checks flow transducers against a prover with its detectors
or against a second transducer, counts pulses, flow and K-factors, and
generates test signals. This desktop program talks to it over a serial
port: it reads the device's configuration into a tree of parameters,
changes one parameter at a time, writes the configuration back and runs
each operating mode in a window of its own. The user interface is in
Russian; the user guide, in Russian with pictures of the windows, is in
/usr/share/doc/karven12t.
.
The package holds three programs:
 * karven12t, the window program described above;
 * karven-cli, its command-line companion, for scripts: it saves the
   configuration to a file and restores it, compares the device with a
   file and records a mode's readings as CSV;
 * karven-sim, a stand-in for the device on a pseudo-terminal.
.
With karven-sim both other programs can be tried without the device.")

include(CPack)
