# The Windows packages, made by `cpack` from the install rules below: a zip that runs from
# any folder (karven12t-<version>-win64.zip) and an installer (karven12t-<version>-win64-setup.exe,
# made by NSIS). Everything lies in one folder: the two programs, Qt's DLLs and the plugins
# the window program loads, Qt's Russian texts, the user guide's page with its pictures, the
# mingw runtime and the licences.

# The program's icon for Windows, from the bitmaps rendered by the top-level file; the
# window program carries it as its first icon resource, which Explorer and the Start menu show.
find_program(MAGICK_CONVERT convert REQUIRED DOC "ImageMagick's convert, which makes the .ico")
set(KARVEN_ICO ${CMAKE_BINARY_DIR}/icons/karven12t.ico)
set(ico_sizes)
foreach(size 16 32 48 64 128 256)
  list(APPEND ico_sizes ${KARVEN_ICON_DIR}/${size}x${size}/${KARVEN_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${KARVEN_ICO}
  COMMAND ${MAGICK_CONVERT} ${ico_sizes} ${KARVEN_ICO}
  DEPENDS ${ico_sizes}
  COMMENT "Making the program's .ico")
# The icon, and the manifest (resource 1 of type 24, the one a process is started with).
set(KARVEN_MANIFEST ${CMAKE_SOURCE_DIR}/data/karven12t.manifest)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/karven12t.rc
     CONTENT "IDI_ICON1 ICON \"${KARVEN_ICO}\"\n1 24 \"${KARVEN_MANIFEST}\"\n")
set_source_files_properties(${CMAKE_BINARY_DIR}/karven12t.rc PROPERTIES OBJECT_DEPENDS "${KARVEN_ICO};${KARVEN_MANIFEST}")
target_sources(karven12t PRIVATE ${CMAKE_BINARY_DIR}/karven12t.rc)

# Qt's DLLs and plugins: those of the Qt the build stands on. The program decodes its About
# picture with libjpeg itself and keeps its icons as PNG, which Qt Gui reads without a
# plugin: no image format plugin is loaded.
install(TARGETS karven12t karven-cli RUNTIME DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets> DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
# Qt finds its plugins beside the program anyway; qt.conf points its translations there too
# (without it they would be looked for beside the folder that holds Qt's DLLs).
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/qt.conf CONTENT "[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n")
install(FILES ${CMAKE_BINARY_DIR}/package/qt.conf DESTINATION .)

# Qt's own texts in Russian (standard buttons, the context menus of text fields): Debian's
# qt6-translations-l10n of the same Qt version; the .qm files are the same on every system.
find_file(KARVEN_QTBASE_RU qtbase_ru.qm PATHS /usr/share/qt6/translations NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "Qt's Russian translation (Debian: qt6-translations-l10n)")
if(KARVEN_QTBASE_RU)
  install(FILES ${KARVEN_QTBASE_RU} DESTINATION translations)
else()
  message(WARNING "qtbase_ru.qm not found (Debian: qt6-translations-l10n): the packages' Qt texts will be English")
endif()

# The user guide's page with its pictures, which the window program opens from its folder.
include(${CMAKE_CURRENT_LIST_DIR}/UserGuide.cmake)
install(FILES ${KARVEN_GUIDE_HTML} DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/img/ DESTINATION img FILES_MATCHING PATTERN "*.png")

# The mingw runtime the programs and Qt's DLLs are linked with.
set(KARVEN_MINGW_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(path "${path}" REALPATH)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "the mingw runtime's ${dll} is not found")
  endif()
  list(APPEND KARVEN_MINGW_RUNTIME ${path})
endforeach()
install(FILES ${KARVEN_MINGW_RUNTIME} DESTINATION .)

# The licences: the program's, and those of the libraries and the fonts (built into the
# window program for its protocols) that come with it, as Debian ships them with the
# packages they were built from.
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
foreach(notice "libqt6core6/copyright;Qt.txt"
               "gcc-mingw-w64-x86-64-posix-runtime/copyright;GCC-runtime.txt"
               "mingw-w64-common/copyright;mingw-w64.txt"
               "fonts-dejavu-core/copyright;DejaVu-fonts.txt"
               "../common-licenses/LGPL-3;LGPL-3.txt" "../common-licenses/GPL-3;GPL-3.txt")
  list(GET notice 0 source)
  list(GET notice 1 name)
  if(EXISTS /usr/share/doc/${source})
    install(FILES /usr/share/doc/${source} DESTINATION licenses RENAME ${name})
  else()
    message(WARNING "/usr/share/doc/${source} not found: the packages go without it")
  endif()
endforeach()

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME karven12t)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TORVIK-3")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service program of the Karven-12T flow transducer test device")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_FILE_NAME karven12t-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES OFF)
set(CPACK_KARVEN_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/WindowsStaging.cmake)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/WindowsGenerators.cmake)

# The installer: a Start-menu folder "Карвен-12Т" with the program's shortcut and the user
# guide's, and an uninstaller.
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Karven-12T")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Karven-12T")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Карвен-12Т")
set(CPACK_NSIS_DISPLAY_NAME "Карвен-12Т")
# A 64-bit installer, as the programs are (and Unicode, which that implies). The files keep
# their times (SOURCE_DATE_EPOCH, see WindowsStaging.cmake); what cpack makes itself for the
# installer's pages is stored without its time.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n  SetDateSave off")
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "SetDateSave on")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "SetDateSave off")
set(CPACK_PACKAGE_EXECUTABLES karven12t "Карвен-12Т")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_MENU_LINKS guide.html "Руководство пользователя")
set(CPACK_NSIS_INSTALLED_ICON_NAME karven12t.exe)
set(CPACK_NSIS_MUI_ICON ${KARVEN_ICO})
set(CPACK_NSIS_MUI_UNIICON ${KARVEN_ICO})
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_URL_INFO_ABOUT "http://torvik3.example")
# The installer keeps its folder under Software\<vendor>\<product>; the uninstaller removes the
# product's key, and with it the vendor's when nothing else is left there.
# (cpack reads these settings once more, hence each backslash of the script written twice).
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "DeleteRegKey SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}\\\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}'
  DeleteRegKey /ifempty SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}'")

# The installer's script: cpack's own template, in Russian, with the checks for a running copy
# (nsis/NSIS.template.in says what differs).
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)
include(CPack)
