# The Windows stubs are linked with their resource section last, after the relocations, so that
# the packer can rebuild it with a publisher's icon, version information and manifest without
# moving any other section (pe/pe_image.h, docs/format.md). GNU ld's default script for PE
# programs puts .rsrc before .reloc. The stub links with that same default script, asked of the
# linker at configure time (ld --verbose), with the .rsrc statement moved behind .reloc; nothing
# else changes, and a linker whose script has no such statements stops the configuration.
function(vorn_stub_linker_script out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=ld
                  OUTPUT_VARIABLE ld OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${ld} --verbose OUTPUT_VARIABLE verbose RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot ask ${ld} for its default linker script")
  endif()
  # The script stands between two lines of '=' signs.
  string(FIND "${verbose}" "==================================================\n" first)
  string(FIND "${verbose}" "==================================================" last REVERSE)
  math(EXPR first "${first} + 51")
  math(EXPR length "${last} - ${first}")
  string(SUBSTRING "${verbose}" ${first} ${length} script)

  set(rsrc_head "  .rsrc BLOCK(__section_alignment__)")
  set(reloc_head "  .reloc BLOCK(__section_alignment__)")
  string(FIND "${script}" "${rsrc_head}" rsrc_at)
  string(FIND "${script}" "${reloc_head}" reloc_at)
  if(rsrc_at LESS 0 OR reloc_at LESS rsrc_at)
    message(FATAL_ERROR "the default script of ${ld} has no .rsrc before .reloc to move")
  endif()
  # Each statement ends at the first line holding only "  }" after its head.
  string(SUBSTRING "${script}" ${rsrc_at} -1 from_rsrc)
  string(FIND "${from_rsrc}" "\n  }\n" rsrc_end)
  math(EXPR rsrc_length "${rsrc_end} + 5")
  string(SUBSTRING "${from_rsrc}" 0 ${rsrc_length} rsrc)
  string(REPLACE "${rsrc}" "" script "${script}")
  string(FIND "${script}" "${reloc_head}" reloc_at)
  string(SUBSTRING "${script}" ${reloc_at} -1 from_reloc)
  string(FIND "${from_reloc}" "\n  }\n" reloc_end)
  math(EXPR insert_at "${reloc_at} + ${reloc_end} + 5")
  string(SUBSTRING "${script}" 0 ${insert_at} before)
  string(SUBSTRING "${script}" ${insert_at} -1 after)
  file(WRITE ${out} "/* GNU ld's default script with .rsrc moved last (cmake/stub_link_layout.cmake) */\n"
                    "${before}${rsrc}${after}")
endfunction()
