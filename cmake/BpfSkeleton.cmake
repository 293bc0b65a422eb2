# bwc_bpf_skeleton(<target> <source.bpf.c> [INCLUDES dir...]): compiles a BPF
# program with clang and generates its libbpf skeleton header
# (<name>.skel.h, <name> being the source's name without ".bpf.c") in the
# target's binary folder, which is added to the target's include path.
find_program(BWC_CLANG NAMES clang clang-14 REQUIRED)
find_program(BWC_BPFTOOL NAMES bpftool PATHS /usr/sbin /sbin REQUIRED)
execute_process(COMMAND gcc -dumpmachine OUTPUT_VARIABLE BWC_MULTIARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)

function(bwc_bpf_skeleton target source)
  cmake_parse_arguments(B "" "" "INCLUDES" ${ARGN})
  get_filename_component(src ${source} ABSOLUTE)
  get_filename_component(file ${source} NAME)
  string(REGEX REPLACE "\\.bpf\\.c$" "" name ${file})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/bpf)
  set(includes -I/usr/include/${BWC_MULTIARCH})
  get_filename_component(srcdir ${src} DIRECTORY)
  list(APPEND includes -I${srcdir})
  file(GLOB headers ${srcdir}/*.h)
  foreach(inc ${B_INCLUDES})
    list(APPEND includes -I${inc})
    file(GLOB included ${inc}/*.h)
    list(APPEND headers ${included})
  endforeach()
  add_custom_command(
    OUTPUT ${dir}/${name}.skel.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${BWC_CLANG} -g -O2 -target bpf -Wall ${includes} -c ${src} -o ${dir}/${name}.bpf.o
    COMMAND ${BWC_BPFTOOL} gen skeleton ${dir}/${name}.bpf.o name ${name}_bpf > ${dir}/${name}.skel.h
    DEPENDS ${src} ${headers}
    COMMENT "BPF ${file}"
    VERBATIM)
  target_sources(${target} PRIVATE ${dir}/${name}.skel.h)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()
