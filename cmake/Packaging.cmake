# Installation where Debian expects things, and a .deb of it (cpack -G DEB).
#
# The programs go to bin/. The unzip library is private to them: it goes to
# lib/<multiarch>/zevavi. The archive component looks for it beside the executable, then in
# that folder by its path relative to the executable's (at any prefix), and only then asks
# dlopen for the bare file name. The programs also carry a RUNPATH pointing there, but dlopen
# searches the RUNPATH of the object that calls it, and in a sanitizer build that is the
# sanitizer's dlopen interceptor, so the path relative to the executable is what finds it.

include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# GNUInstallDirs adds the multiarch part only for the prefix /usr; the private folder gets it
# at every prefix, so that the .deb (built from a default /usr/local configuration and
# installed under /usr) has its library where Debian puts private libraries.
set(ZEVAVI_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR})
if(ZEVAVI_PRIVATE_LIBDIR STREQUAL "lib" AND CMAKE_LIBRARY_ARCHITECTURE)
  set(ZEVAVI_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
endif()
set(ZEVAVI_PRIVATE_LIBDIR ${ZEVAVI_PRIVATE_LIBDIR}/zevavi)
file(RELATIVE_PATH zv_bin_to_lib /zv/${CMAKE_INSTALL_BINDIR} /zv/${ZEVAVI_PRIVATE_LIBDIR})

set(zv_programs)
foreach(program ZeVavi zevavi-flash zevavi-station zevavi-term zevavi-skin)
  if(TARGET ${program})
    list(APPEND zv_programs ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/${zv_bin_to_lib}")
  endif()
endforeach()
if(zv_programs)
  install(TARGETS ${zv_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET zv_zip)
  target_compile_definitions(zv_zip PRIVATE ZEVAVI_PRIVATE_LIB_FROM_BIN="${zv_bin_to_lib}")
endif()
if(TARGET KyUnzip179)
  # Loaded, never linked: a plain shared object, not executable.
  install(TARGETS KyUnzip179
          LIBRARY DESTINATION ${ZEVAVI_PRIVATE_LIBDIR}
                  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
# A stripped install (cpack, cmake --install --strip) also drops the compiler's version
# notes, as Debian's own packaging does.
if(CMAKE_OBJCOPY)
  set(zv_binaries)
  foreach(program ${zv_programs})
    list(APPEND zv_binaries ${CMAKE_INSTALL_BINDIR}/${program})
  endforeach()
  if(TARGET KyUnzip179)
    list(APPEND zv_binaries ${ZEVAVI_PRIVATE_LIBDIR}/KyUnzip179.so)
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(binary ${zv_binaries})
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${binary}\"
                        RESULT_VARIABLE failed)
        if(failed)
          message(FATAL_ERROR \"objcopy failed on \${binary}\")
        endif()
      endforeach()
    endif()")
endif()

set(zv_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(zv_out ${CMAKE_BINARY_DIR}/packaging)
set(zv_generated)

# The icon is drawn by hand as SVG; the fixed sizes are rendered from it at build time.
find_program(ZEVAVI_RSVG_CONVERT rsvg-convert)
set(ZEVAVI_ICON_SIZES 48 64 128 256)
install(FILES ${zv_pkg}/zevavi.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
if(ZEVAVI_RSVG_CONVERT)
  foreach(size ${ZEVAVI_ICON_SIZES})
    set(png ${zv_out}/icons/${size}x${size}/zevavi.png)
    add_custom_command(OUTPUT ${png}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${zv_out}/icons/${size}x${size}
                       COMMAND ${ZEVAVI_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${zv_pkg}/zevavi.svg
                       DEPENDS ${zv_pkg}/zevavi.svg
                       COMMENT "Rendering the ${size}x${size} icon")
    list(APPEND zv_generated ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert (librsvg2-bin) not found: only the scalable icon is installed")
endif()

# Manual pages and the changelog, compressed the way Debian ships them (no name, no time).
find_program(ZEVAVI_GZIP gzip REQUIRED)
foreach(source ZeVavi.1 zevavi-flash.1 zevavi-station.1 zevavi-term.1 zevavi-skin.1 changelog)
  set(gz ${zv_out}/${source}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${zv_out}
                     COMMAND ${ZEVAVI_GZIP} -9 -n -c ${zv_pkg}/${source} > ${gz}
                     DEPENDS ${zv_pkg}/${source}
                     COMMENT "Compressing ${source}")
  list(APPEND zv_generated ${gz})
endforeach()
add_custom_target(zevavi-package-files ALL DEPENDS ${zv_generated})

install(FILES ${zv_out}/ZeVavi.1.gz ${zv_out}/zevavi-flash.1.gz ${zv_out}/zevavi-station.1.gz ${zv_out}/zevavi-term.1.gz
              ${zv_out}/zevavi-skin.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The sample theme, packed at build time from the WinXP look (apps/zevavi-skin).
if(TARGET zevavi-sample-theme)
  install(FILES ${CMAKE_BINARY_DIR}/share/zevavi/themes/sample.skn DESTINATION ${CMAKE_INSTALL_DATADIR}/zevavi/themes)
endif()
install(FILES ${zv_pkg}/org.zevavi.zevavi.desktop ${zv_pkg}/org.zevavi.zevavi-station.desktop
              ${zv_pkg}/org.zevavi.zevavi-term.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${zv_pkg}/org.zevavi.zevavi.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${zv_pkg}/copyright ${zv_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zevavi)
install(FILES ${zv_pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zevavi)

# The package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zevavi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ZeVavi maintainers <maintainers@users.noreply.c-seed-ff53890e.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "re-flash set-top boxes through their CFE boot loader")
# The synopsis comes from the summary; this is the extended description only.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "ZeVavi writes a new firmware image into a set-top box whose boot loader is
CFE: it unpacks the image into partition files, stops the boot loader at its
prompt over the serial console, types the flash commands and serves each
partition from its own TFTP server on UDP port 69.

The package holds the window (ZeVavi), the same upgrade from the command
line (zevavi-flash), a window for a line of fixtures flashing box after box
(zevavi-station), a serial console (zevavi-term) and a tool that makes and
checks theme files of the skinned controls (zevavi-skin). ZeVavi,
zevavi-flash and zevavi-station are given cap_net_bind_service at
installation, so that they
need no root for the TFTP port; users need the dialout group for the serial
port.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian's own names and versions for Qt 6, zlib and the C++ run time, from the binaries.
find_program(ZEVAVI_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZEVAVI_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6, libqt6printsupport6, libqt6gui6, libqt6core6, zlib1g, libcpp-httplib0.11, libstdc++6, libc6, libcap2-bin")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${zv_pkg}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
