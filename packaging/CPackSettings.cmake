# Debian and RPM packages, made by scripts/package (cpack -G DEB / -G RPM in a release build).
# The version comes from project(); runtime libraries are found from the binaries where the
# generator can (dpkg-shlibdeps, rpm's automatic requirements), the rest is named here.

set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME infotest)
set(CPACK_PACKAGE_VENDOR "infotest developers")
set(CPACK_PACKAGE_CONTACT "infotest developers <infotest@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "quiz program for school informatics")
# Lines under 80 characters: package managers show them as they are.
set(CPACK_PACKAGE_DESCRIPTION
  "A pupil takes a test of ten questions drawn at random from a question\n\
bank, choosing for each one of four answers and one of four explanations,\n\
and gets the points and a school grade. A teacher keeps the bank in an\n\
editor window. The menu entry opens the user's own bank, made from the\n\
sample informatics bank on first use, or a bank a classroom shares.\n\
infotest-bank makes banks from spreadsheets (CSV), checks, exports and\n\
prints them. The program's text is in Russian.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories the package makes are 0755 whatever the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load besides what dpkg-shlibdeps finds: SQLite from 3.35, the first with
# RETURNING (the library found in the binary is named without that floor); libpq, for a school's
# server; libxlsxwriter, for the results' spreadsheets. qt6-qpa-plugins: the X11 and Wayland
# platform plugins, without which no window opens. fonts-wine: Tahoma, the windows' font.
set(INFOTEST_DEBIAN_RUNTIME
  "libsqlite3-0 (>= 3.35), libpq5, libxlsxwriter4, qt6-qpa-plugins, fonts-wine")
# The launcher shows its errors in a zenity or kdialog box, else as a notification; GNOME
# desktops have zenity, KDE ones kdialog.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${INFOTEST_DEBIAN_RUNTIME}, zenity | kdialog | libnotify-bin")
# A school's server is one machine, not every pupil's PC.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql")
set(CPACK_DEBIAN_INFOTEST_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
# The launcher reads /etc/default/infotest wherever the rest lies; the package is not moved.
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_LICENSE "GPL-3.0-or-later")
set(CPACK_RPM_PACKAGE_GROUP "Applications/Education")
# Capabilities, not package names, so that Fedora, openSUSE and their kin each find theirs;
# the Qt libraries are added by rpm from the binaries. SQLite's floor needs a package name:
# Fedora's and openSUSE's. The launcher locks the first start's folder with flock.
set(INFOTEST_RPM_RUNTIME "font(tahoma), libpq.so.5()(64bit), libxlsxwriter.so.4()(64bit), \
(sqlite-libs >= 3.35 or libsqlite3-0 >= 3.35)")
set(CPACK_RPM_PACKAGE_REQUIRES
  "${INFOTEST_RPM_RUNTIME}, /usr/bin/flock, (zenity or kdialog or /usr/bin/notify-send)")
set(CPACK_RPM_PACKAGE_SUGGESTS "postgresql-server")
# The build-id links of Fedora's debuginfo scheme have no counterpart in the Debian package.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none")
set(CPACK_RPM_USER_FILELIST "%config(noreplace) /etc/default/infotest")
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /etc/default /usr/share/icons/hicolor
  /usr/share/icons/hicolor/scalable /usr/share/icons/hicolor/scalable/apps
  /usr/share/icons/hicolor/48x48 /usr/share/icons/hicolor/48x48/apps
  /usr/share/icons/hicolor/256x256 /usr/share/icons/hicolor/256x256/apps
  /usr/share/applications /usr/share/man /usr/share/man/man1 /usr/share/doc)

# Two packages from one build: the quiz program with its tool, and the teacher's journal window,
# which pupils' computers need not carry.
set(CPACK_COMPONENTS_ALL infotest journal)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_INFOTEST_PACKAGE_NAME infotest)
set(CPACK_RPM_INFOTEST_PACKAGE_NAME infotest)
set(CPACK_DEBIAN_JOURNAL_PACKAGE_NAME infotest-journal)
set(CPACK_RPM_JOURNAL_PACKAGE_NAME infotest-journal)
# Each package's own text: in component packages the generators no longer fall back on
# CPACK_PACKAGE_DESCRIPTION. Debian's first line stays the common summary.
set(CPACK_COMPONENT_INFOTEST_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_INFOTEST_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_COMPONENT_JOURNAL_DESCRIPTION
  "The teacher's window on the results journal of infotest, for the\n\
teacher's computer. The runs pupils take appear in the window while the\n\
lesson goes on: who took a test, on which computer, with what points and\n\
grade, each pupil's answers, and which questions are likely badly made (a\n\
wrong key, too easy, too hard). The runs are exported to CSV, XLSX or a\n\
PDF report. The window only reads the journal. Its text is in Russian.")
set(CPACK_RPM_JOURNAL_PACKAGE_DESCRIPTION "${CPACK_COMPONENT_JOURNAL_DESCRIPTION}")
set(CPACK_RPM_JOURNAL_PACKAGE_SUMMARY "teacher's window on the results journal of infotest")
# The journal window needs neither Tahoma nor the launcher's message tools, nor the admins'
# settings file as a file of its own: the platform plugins, and the libraries found in it.
set(CPACK_DEBIAN_JOURNAL_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's file dialogs in Russian; the window works without them, in English.
set(CPACK_DEBIAN_JOURNAL_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_RPM_JOURNAL_PACKAGE_REQUIRES "")
set(CPACK_RPM_JOURNAL_USER_FILELIST "")
list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/icons)
