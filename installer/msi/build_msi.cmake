# Builds one Windows Installer package with wixl, then writes into it what wixl cannot express
# (cmake -P, from installer/msi/CMakeLists.txt):
#   - wixl ignores an attribute it does not know with a warning and exit code 0, and writes an
#     element it does not know as nothing: any warning fails the build here;
#   - it writes rollback actions as immediate ones, and immediate actions with the
#     no-impersonation bit: each action's type is set here;
#   - it leaves a file's Version and Language empty (and adds a MsiFileHash row, which belongs to
#     unversioned files only): Kalnix.exe's row gets the version of its version resource and its
#     language, so that Windows Installer's file versioning rules replace an older Kalnix.exe;
#   - it has no Secure attribute: SecureCustomProperties is set here, so that MODE, ALARMTIME and
#     INSTALLFOLDER reach the installation when msiexec runs elevated;
#   - it has no RemoveFile element: the files the setup program and Kalnix put beside Kalnix.exe
#     are entered here, so that the installer removes them with the folder, each name that is no
#     8.3 name with a short name before it (ICE03);
#   - it finds a source file only by a path relative to its working folder: it runs in / here.
# Variables: WIXL MSIBUILD WXS OUTPUT ARCH VERSION PRODUCT_CODE UPGRADE_CODE COMPONENT_GUID
#            KALNIX_EXE KALNIX_CA ICON WEBSITE_URL
# kalnix_file_version(file out): the file version of a PE file's version resource (its
# VS_FIXEDFILEINFO, found by its signature 0xFEEF04BD), as "a.b.c.d".
function(kalnix_file_version file out)
  file(READ ${file} hex HEX)
  string(FIND "${hex}" "bd04effe" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file} has no version resource")
  endif()
  # Signature and structure version, then FileVersionMS and FileVersionLS, each a
  # little-endian DWORD of two little-endian WORDs: high word first in the version.
  math(EXPR at "${at} + 16")
  string(SUBSTRING "${hex}" ${at} 16 words)
  set(fields)
  foreach(offset 4 0 12 8)
    string(SUBSTRING "${words}" ${offset} 4 word)
    string(SUBSTRING "${word}" 2 2 high)
    string(SUBSTRING "${word}" 0 2 low)
    math(EXPR value "0x${high}${low}")
    list(APPEND fields ${value})
  endforeach()
  list(JOIN fields "." version)
  set(${out} ${version} PARENT_SCOPE)
endfunction()

if(ARCH STREQUAL "x64")
  set(defines -D Win64=yes -D ProgramFilesFolder=ProgramFiles64Folder -D EntryPrefix= -D EntrySuffix=)
else()
  # The x86 library exports the decorated stdcall names (_Name@4).
  set(defines -D Win64=no -D ProgramFilesFolder=ProgramFilesFolder -D EntryPrefix=_ -D EntrySuffix=@4)
endif()
set(unpatched ${OUTPUT}.wixl)
kalnix_file_version(${KALNIX_EXE} exe_version)
foreach(file KALNIX_EXE KALNIX_CA ICON)
  string(REGEX REPLACE "^/" "" ${file} "${${file}}")
endforeach()
execute_process(
  COMMAND ${WIXL} -a ${ARCH} -o ${unpatched} -D Arch=${ARCH} -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE}
          -D UpgradeCode=${UPGRADE_CODE} -D ComponentGuid=${COMPONENT_GUID} -D KalnixExe=${KALNIX_EXE}
          -D KalnixCa=${KALNIX_CA} -D Icon=${ICON} -D WebsiteUrl=${WEBSITE_URL} ${defines} ${WXS}
  WORKING_DIRECTORY /
  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR errors MATCHES "WARNING|CRITICAL|ERROR|no property named" OR NOT EXISTS ${unpatched})
  file(REMOVE ${unpatched})
  message(FATAL_ERROR "wixl failed (${result}) on ${WXS}:\n${output}${errors}")
endif()

# Action types: 1 a DLL in the Binary table; +1024 deferred (in the script); +256 rollback on top
# of it; +2048 without impersonation (as SYSTEM); 51 sets a property.
set(immediate PlanKalnixPackage)
set(deferred StopKalnixService StopKalnix RemoveKalnixStart RemoveKalnixService SecureKalnixFolder
    WriteKalnixSettings RegisterKalnixStart RegisterKalnixEvents InstallKalnixService RemoveKalnixSettings
    CompleteKalnixTakeOver StartKalnixForUser)
set(rollback StartKalnixServiceAgain RestoreKalnixStart PutBackKalnixService UndoKalnixFolder UndoKalnixSettings
    UndoKalnixStart UndoKalnixEvents UndoKalnixService PutBackKalnixSettings UndoKalnixTakeOver EndStartedKalnix)
set(property KeepKalnixFolder RecordKalnixFolder)
set(queries)
foreach(kind_type immediate:1 deferred:3073 rollback:3329 property:51)
  string(REPLACE ":" ";" pair ${kind_type})
  list(GET pair 0 kind)
  list(GET pair 1 type)
  foreach(action ${${kind}})
    list(APPEND queries -q "UPDATE `CustomAction` SET `Type` = ${type} WHERE `Action` = '${action}'")
  endforeach()
endforeach()
# InstallMode 1 at installation, 2 at removal, 3 both. The setup program's uninstaller goes when
# this package takes its installation over in the same folder.
foreach(row "UninstallExe:UNINST~1.EXE|Uninstall.exe:3" "KalnixLog:Kalnix.log:2"
            "SetupLog:KALNIX~1.LOG|KalnixSetup.log:2" "TaskFile:KALNIX~1.XML|KalnixTask.xml:2")
  string(REPLACE ":" ";" fields ${row})
  list(GET fields 0 key)
  list(GET fields 1 name)
  list(GET fields 2 mode)
  list(APPEND queries -q "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('${key}', 'KalnixExe', '${name}', 'INSTALLFOLDER', ${mode})")
endforeach()
list(APPEND queries -q "UPDATE `File` SET `Version` = '${exe_version}', `Language` = '1033' WHERE `File` = 'KalnixExe'"
     -q "DELETE FROM `MsiFileHash` WHERE `File_` = 'KalnixExe'")
# The property list is passed on its own: its semicolons would split a CMake list.
execute_process(COMMAND ${MSIBUILD} ${unpatched} ${queries} RESULT_VARIABLE result ERROR_VARIABLE errors)
if(result EQUAL 0)
  execute_process(COMMAND ${MSIBUILD} ${unpatched} -q "UPDATE `Property` SET `Value` = 'ALARMTIME;INSTALLFOLDER;MODE;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'"
                  RESULT_VARIABLE result ERROR_VARIABLE errors)
endif()
if(NOT result EQUAL 0 OR errors MATCHES "WARNING|CRITICAL|ERROR")
  file(REMOVE ${unpatched})
  message(FATAL_ERROR "msibuild failed (${result}) on ${unpatched}:\n${errors}")
endif()
file(RENAME ${unpatched} ${OUTPUT})
