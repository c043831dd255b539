# Run at install time: the desktop entry names the installed program by its full path, and the
# commands in bin/ are links to the programs in their own folder, where the help file is.
if(IS_ABSOLUTE "${MIREL_PROGRAM_DIR}")
  set(program_dir "${MIREL_PROGRAM_DIR}")
else()
  set(program_dir "${CMAKE_INSTALL_PREFIX}/${MIREL_PROGRAM_DIR}")
endif()
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

set(PROGRAM "${program_dir}/mirelimport")
configure_file("${MIREL_SOURCE_DIR}/packaging/mirelimport.desktop.in" "${root}/share/applications/mirelimport.desktop" @ONLY)
message(STATUS "Installing: ${root}/share/applications/mirelimport.desktop")

file(MAKE_DIRECTORY "${root}/bin")
foreach(name mirelimport mirelimport-batch)
  file(REMOVE "${root}/bin/${name}")
  file(CREATE_LINK "${program_dir}/${name}" "${root}/bin/${name}" SYMBOLIC)
  message(STATUS "Installing: ${root}/bin/${name} -> ${program_dir}/${name}")
endforeach()
