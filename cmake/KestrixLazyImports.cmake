# kestrix_lazy_imports(<target> <table> <binder source>)
#
# The library's calls into user32, gdi32, advapi32, shell32, ole32 and
# ws2_32 bound on first call instead of at load time. For every line of the
# table (`library function@argument-bytes [failure value]`) one small
# assembly file defines a pointer `_kxlazy_imp_function@N` and a jump
# `_kxlazy_function@N`; the pointer starts at a stub that hands the
# function's record to kxLazyResolve, which loads the library and stores the
# real function. One file per function becomes one member of the archive:
# the linker takes only the functions a program reaches. The layers' own
# references (`__imp__function@N` through the system headers, or
# `_function@N`) are renamed to these in their archives after each build
# (kestrix_lazy_rename), so that the program's own imports stay as the
# program links them.
include_guard(GLOBAL)

# The libraries whose import libraries the stubs replace.
set(KESTRIX_LAZY_LIBRARIES user32 gdi32 advapi32 shell32 ole32 ws2_32)

function(kestrix_lazy_imports target table binder)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(STRINGS ${table} lines REGEX "^[^#]")
  set(out ${CMAKE_CURRENT_BINARY_DIR}/lazy_imports)
  file(MAKE_DIRECTORY ${out})
  set(sources "")
  set(libraries "")
  set(failures "")
  set(renames "")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "^([A-Za-z0-9_]+)\\.dll[ \t]+([A-Za-z0-9_]+)(@([0-9]+))?([ \t]+(-?[0-9A-Fa-fx]+))?[ \t]*$" m "${line}")
    if(NOT m)
      message(FATAL_ERROR "${table}: cannot read the line \"${line}\"")
    endif()
    set(library ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    set(symbol ${name})
    set(bytes 0)
    if(CMAKE_MATCH_3)
      set(symbol ${name}${CMAKE_MATCH_3})
      set(bytes ${CMAKE_MATCH_4})
    endif()
    set(value 0)
    if(CMAKE_MATCH_6)
      set(value ${CMAKE_MATCH_6})
    endif()
    list(APPEND libraries ${library})
    string(APPEND renames "__imp__${symbol} _kxlazy_imp_${symbol}\n_${symbol} _kxlazy_${symbol}\n")
    # The failure routine: one per (argument bytes, value).
    string(MAKE_C_IDENTIFIER "${bytes}_${value}" failure)
    list(APPEND failures "${bytes} ${value}")
    set(file ${out}/${library}_${name}.s)
    file(CONFIGURE OUTPUT ${file} CONTENT [=[
# @name@ of @library@.dll, bound on its first call.
	.text
	.globl	_kxlazy_@symbol@
_kxlazy_@symbol@:
	jmp	*_kxlazy_imp_@symbol@
.Lbind:
	pushl	$.Lrecord
	jmp	_kxLazyBindStub
	.data
	.p2align 2
	.globl	_kxlazy_imp_@symbol@
_kxlazy_imp_@symbol@:
	.long	.Lbind
	.section .rdata$kxlazy_b,"dr"
	.p2align 2
.Lrecord:
	.long	_kxlazy_imp_@symbol@
	.long	_kxLazyLibrary_@library@
	.long	.Lname
	.long	_kxLazyFail_@failure@
	.long	.Lbind
	.section .rdata,"dr"
.Lname:
	.asciz	"@name@"
]=] @ONLY)
    list(APPEND sources ${file})
  endforeach()

  # What every stub shares: the binding step, the libraries' names and the
  # failure routines.
  set(common [=[
# Binds the function whose record the stub pushed, then goes on into it (or
# into its failure routine) with the caller's return address and arguments
# as they were.
	.text
	.globl	_kxLazyBindStub
_kxLazyBindStub:
	pushl	%eax
	pushl	%ecx
	pushl	%edx
	pushl	12(%esp)
	call	_kxLazyResolve
	addl	$4, %esp
	movl	%eax, 12(%esp)
	popl	%edx
	popl	%ecx
	popl	%eax
	ret
]=])
  # The records of the program's functions lie between these two (the
  # linker orders .rdata$ sections by name).
  string(APPEND common "\t.section .rdata$kxlazy_a,\"dr\"\n\t.p2align 2\n\t.globl\t_kxLazyImportsBegin\n"
                       "_kxLazyImportsBegin:\n\t.section .rdata$kxlazy_c,\"dr\"\n\t.p2align 2\n"
                       "\t.globl\t_kxLazyImportsEnd\n_kxLazyImportsEnd:\n")
  list(REMOVE_DUPLICATES libraries)
  foreach(library IN LISTS libraries)
    string(APPEND common "\t.section .rdata,\"dr\"\n\t.globl\t_kxLazyLibrary_${library}\n"
                         "_kxLazyLibrary_${library}:\n\t.asciz\t\"${library}.dll\"\n")
  endforeach()
  list(REMOVE_DUPLICATES failures)
  foreach(pair IN LISTS failures)
    separate_arguments(pair)
    list(GET pair 0 bytes)
    list(GET pair 1 value)
    string(MAKE_C_IDENTIFIER "${bytes}_${value}" failure)
    set(return "ret")
    if(NOT bytes EQUAL 0)
      set(return "ret\t$${bytes}")
    endif()
    string(APPEND common "\t.text\n\t.globl\t_kxLazyFail_${failure}\n_kxLazyFail_${failure}:\n"
                         "\tmovl\t$${value}, %eax\n\t${return}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out}/lazy_common.s CONTENT "${common}" @ONLY)

  file(CONFIGURE OUTPUT ${out}/lazy_imports.syms CONTENT "${renames}" @ONLY)
  set_property(GLOBAL PROPERTY KESTRIX_LAZY_RENAMES ${out}/lazy_imports.syms)

  add_library(${target} STATIC ${out}/lazy_common.s ${sources} ${binder})
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:kx_build_options>)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${KESTRIX_SOURCE_ROOT}>)
endfunction()

# kestrix_lazy_rename(<layer>): after each build of the layer's archive, its
# references to the functions of the table go to the stubs.
function(kestrix_lazy_rename target)
  get_property(renames GLOBAL PROPERTY KESTRIX_LAZY_RENAMES)
  if(renames)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --redefine-syms=${renames} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
