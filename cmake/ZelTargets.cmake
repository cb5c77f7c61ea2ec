# zel_version_resource(<target> <description>)
# Gives a binary its VERSIONINFO resource, so that its file version is never empty.
function(zel_version_resource target description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(ZEL_FILE_TYPE VFT_APP)
    set(suffix .exe)
  else()
    set(ZEL_FILE_TYPE VFT_DLL)
    set(suffix .dll)
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(ZEL_NAME ${output_name})
  set(ZEL_FILENAME ${output_name}${suffix})
  set(ZEL_DESCRIPTION "${description}")
  set(ZEL_VERSION ${PROJECT_VERSION})
  string(REPLACE "." "," ZEL_VERSION_COMMAS ${PROJECT_VERSION})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# zel_test(<name> SOURCES ... [LIBS ...])
# A GoogleTest executable run under Wine; each test case becomes a CTest test.
function(zel_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zel_test_main)
  zel_version_resource(${name} "ZEL test ${name}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

# zel_sign_all_binaries()
# Signs every DLL and EXE this project builds, right after it is linked: the deliverables, the
# stand-ins, the test programs and test libraries alike, so that the publisher check meets the same
# signatures in tests as on a customer's machine. Called once, after every directory was added.
# A target whose property ZEL_UNSIGNED is TRUE stays unsigned; targets of other projects
# (googletest) are left alone.
#
# The signature goes on in the link step itself (as the targets' linker launcher): CMake accepts a
# POST_BUILD command only from the directory that made the target, and one place has to see them all.
function(zel_sign_all_binaries)
  if(ZEL_SIGNING_CHAIN)
    set(chain ${ZEL_SIGNING_CHAIN})
    set(key ${ZEL_SIGNING_KEY})
    set(certificate_target "")
  else()
    # The build folder's own development certificate. Its files are by-products, rewritten only
    # when their contents change, so that re-running the script relinks nothing.
    set(signing ${CMAKE_BINARY_DIR}/signing)
    set(chain ${signing}/chain.pem)
    set(key ${signing}/leaf.key)
    set(script ${PROJECT_SOURCE_DIR}/cmake/make-signing-certificate.sh)
    add_custom_command(
      OUTPUT ${signing}/certificate.stamp
      BYPRODUCTS ${chain} ${key} ${signing}/ZelDevelopmentRoot.cer ${ZEL_DEVELOPMENT_ROOT}
      COMMAND ${script} ${signing} ${ZEL_PUBLISHER_NAME} ${ZEL_DEVELOPMENT_ROOT}
      DEPENDS ${script}
      COMMENT "Development code-signing certificate for ${ZEL_PUBLISHER_NAME}"
      VERBATIM)
    add_custom_target(zel_signing_certificate DEPENDS ${signing}/certificate.stamp)
    set(certificate_target zel_signing_certificate)
  endif()

  set(signing --chain ${chain} --key ${key})
  if(ZEL_SIGNING_TIMESTAMP_URL)
    list(APPEND signing --timestamp ${ZEL_SIGNING_TIMESTAMP_URL})
  endif()
  # What is signed after the build rather than by a link (the installer) uses the same certificate.
  set_property(GLOBAL PROPERTY ZEL_SIGNING_OPTIONS ${signing})
  set_property(GLOBAL PROPERTY ZEL_SIGNING_CHAIN_FILE ${chain})
  set_property(GLOBAL PROPERTY ZEL_SIGNING_CERTIFICATE_TARGET ${certificate_target})
  set(launcher ${PROJECT_SOURCE_DIR}/cmake/sign-after-link.sh ${signing} --)

  _zel_binaries_under(${PROJECT_SOURCE_DIR} binaries)
  foreach(target IN LISTS binaries)
    get_target_property(unsigned ${target} ZEL_UNSIGNED)
    if(unsigned)
      continue()
    endif()
    foreach(lang C CXX)
      # A launcher the target already has (a compiler cache, say) still runs, inside the signing.
      get_target_property(existing ${target} ${lang}_LINKER_LAUNCHER)
      if(NOT existing)
        set(existing "")
      endif()
      set_property(TARGET ${target} PROPERTY ${lang}_LINKER_LAUNCHER ${launcher} ${existing})
    endforeach()
    # A new certificate, or a renewed one at the same path, signs everything again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${chain})
    if(certificate_target)
      add_dependencies(${target} ${certificate_target})
    endif()
  endforeach()
endfunction()

# _zel_binaries_under(<directory> <result variable>)
# The DLL and EXE targets made by this project in <directory> and every directory below it.
function(_zel_binaries_under directory result)
  set(found "")
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(source_dir ${target} SOURCE_DIR)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${source_dir}" NORMALIZE ours)
    if(ours AND type MATCHES "^(SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    _zel_binaries_under(${subdirectory} below)
    list(APPEND found ${below})
  endforeach()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

# zel_widl_typelib(<idl> <output folder> [INCLUDES <folder>...] [DEPENDS <file>...])
# Compiles a deliverable's own IDL into its header, its interface ids (<name>_i.c) and its type
# library (<name>.tlb, embedded as a resource), all in <output folder>.
function(zel_widl_typelib idl out)
  cmake_parse_arguments(ARG "" "" "INCLUDES;DEPENDS" ${ARGN})
  get_filename_component(name ${idl} NAME_WE)
  set(include_flags)
  foreach(folder IN LISTS ARG_INCLUDES)
    list(APPEND include_flags -I${folder})
  endforeach()
  file(MAKE_DIRECTORY ${out})
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${ZEL_WIDL} -m64 -I/usr/include/wine/wine/windows ${include_flags}
            -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
            -h -H ${name}.h -u -U ${name}_i.c -t -T ${name}.tlb ${idl}
    DEPENDS ${idl} ${ARG_DEPENDS}
    WORKING_DIRECTORY ${out}
    COMMENT "widl ${name}.idl"
    VERBATIM)
endfunction()

# zel_installer(<target> VERSION <x.y.z.w> OUTPUT_DIRECTORY <folder>)
# Builds ZEL-Setup-<version>.exe in <folder> from installer/ZelSetup.nsi with the deliverables as
# built, signed (installer and the uninstaller inside it) by the certificate that signed them.
# Call after zel_sign_all_binaries().
function(zel_installer target)
  cmake_parse_arguments(ARG "" "VERSION;OUTPUT_DIRECTORY" "" ${ARGN})
  get_property(signing GLOBAL PROPERTY ZEL_SIGNING_OPTIONS)
  get_property(chain GLOBAL PROPERTY ZEL_SIGNING_CHAIN_FILE)
  get_property(certificate_target GLOBAL PROPERTY ZEL_SIGNING_CERTIFICATE_TARGET)
  if(NOT signing)
    message(FATAL_ERROR "zel_installer(${target}) needs zel_sign_all_binaries() first")
  endif()
  find_program(ZEL_MAKENSIS makensis REQUIRED)
  set(script ${PROJECT_SOURCE_DIR}/installer/ZelSetup.nsi)
  set(output ${ARG_OUTPUT_DIRECTORY}/ZEL-Setup-${ARG_VERSION}.exe)
  # makensis runs the signing through a shell: each word quoted, so that paths may hold spaces.
  set(sign_command "\"${PROJECT_SOURCE_DIR}/cmake/sign-binary.sh\"")
  foreach(word IN LISTS signing)
    string(APPEND sign_command " \"${word}\"")
  endforeach()
  set(deliverables zelevh ZelTARN KyAlert KyLogCfg ZelRes2)
  set(files)
  foreach(deliverable IN LISTS deliverables)
    list(APPEND files $<TARGET_FILE:${deliverable}>)
  endforeach()
  file(MAKE_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${ZEL_MAKENSIS} -V2 -NOCD -DZEL_VERSION=${ARG_VERSION} -DZEL_BIN=${CMAKE_BINARY_DIR}/bin
            "-DZEL_SIGN=${sign_command}"
            -DZEL_OUTPUT=${output} ${script}
    DEPENDS ${script} ${PROJECT_SOURCE_DIR}/cmake/sign-binary.sh ${chain} ${files}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/installer
    COMMENT "NSIS installer ZEL-Setup-${ARG_VERSION}.exe"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
  add_dependencies(${target} ${deliverables})
  if(certificate_target)
    add_dependencies(${target} ${certificate_target})
  endif()
  set_property(TARGET ${target} PROPERTY ZEL_INSTALLER_FILE ${output})
endfunction()
