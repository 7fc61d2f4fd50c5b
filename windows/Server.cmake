# The DLL kelShapeLib: the library, the COM layer, and what kelcomgen and widl make from the
# type library: the interfaces' declarations (kelShapeLib.h), their vtable methods
# (ComClasses.cpp) and the binary type library embedded as resource TYPELIB 1.
enable_language(RC)
set(KEL_COMGEN "" CACHE FILEPATH "kelcomgen, built by the Linux build")
if(NOT EXISTS "${KEL_COMGEN}")
  message(FATAL_ERROR "set KEL_COMGEN to the kelcomgen executable of a Linux build")
endif()
find_program(KEL_WIDL NAMES ${KEL_MINGW_TRIPLET}-widl widl REQUIRED)
set(KEL_WINE_IDL /usr/include/wine/wine/windows CACHE PATH "where oaidl.idl is (libwine-dev)")
set(KEL_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH
    "where stdole2.tlb is (wine)")

set(gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${gen})
add_custom_command(
  OUTPUT ${gen}/kelShapeLib.idl ${gen}/ComClasses.cpp
  COMMAND ${KEL_COMGEN} ${gen}
  DEPENDS ${KEL_COMGEN}
  COMMENT "kelcomgen: the interface definition and vtable methods from the type library")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(widl_target --win64)
else()
  set(widl_target --win32)
endif()
add_custom_command(
  OUTPUT ${gen}/kelShapeLib.h ${gen}/kelShapeLib.tlb
  COMMAND ${KEL_WIDL} ${widl_target} -I${KEL_WINE_IDL} -L${KEL_STDOLE_DIR} -h -o kelShapeLib.h
          kelShapeLib.idl
  COMMAND ${KEL_WIDL} ${widl_target} -I${KEL_WINE_IDL} -L${KEL_STDOLE_DIR} -t -o kelShapeLib.tlb
          kelShapeLib.idl
  DEPENDS ${gen}/kelShapeLib.idl
  WORKING_DIRECTORY ${gen}
  COMMENT "widl: kelShapeLib.h and kelShapeLib.tlb")
set(KEL_TLB ${gen}/kelShapeLib.tlb)
configure_file(kelShapeLib.rc.in ${gen}/kelShapeLib.rc @ONLY)
set_source_files_properties(${gen}/kelShapeLib.rc PROPERTIES OBJECT_DEPENDS ${gen}/kelShapeLib.tlb)
set_source_files_properties(${gen}/ComClasses.cpp PROPERTIES OBJECT_DEPENDS ${gen}/kelShapeLib.h)

add_library(kelShapeLib SHARED
  com/ComObject.cpp
  com/Server.cpp
  ${gen}/ComClasses.cpp
  ${gen}/kelShapeLib.rc
  kelShapeLib.def)
set_target_properties(kelShapeLib PROPERTIES PREFIX "" OUTPUT_NAME kelShapeLib)
target_include_directories(kelShapeLib PRIVATE ${gen})
target_link_libraries(kelShapeLib PRIVATE kelshape kel_source_tree kel_warnings oleaut32 ole32 uuid advapi32)
# GCC 12's libstdc++ trips -Wrestrict on its own string code under MinGW (GCC bug 105329).
foreach(layer IN LISTS kel_layers)
  target_compile_options(${layer} PRIVATE -Wno-restrict)
endforeach()
target_compile_options(kelShapeLib PRIVATE -Wno-restrict)
# The entry points are exported by the .def file's plain names; on 32-bit Windows they are
# __stdcall, which the linker decorates unless told to kill the decoration.
target_link_options(kelShapeLib PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(kelShapeLib PRIVATE -Wl,--enable-stdcall-fixup)
endif()

add_subdirectory(tests)
