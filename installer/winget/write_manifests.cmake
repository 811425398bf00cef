# Writes a release's winget manifests (cmake -DKALNIX_RELEASE=<tree>/installer/winget/winget-release.cmake
# -P write_manifests.cmake): the version, installer and default-locale files at manifest version
# 1.12.0, in the folder layout of the community repository's package folders. Each file is
# described from what was built: its SHA-256, and an MSI package's product and upgrade codes.
include(${KALNIX_RELEASE})
set(id "Kalnix.Kalnix")
set(manifest_version "1.12.0")
set(schema "# yaml-language-server: $schema=https://aka.ms/winget-manifest")

# The setup program's exit codes (README, "Silent installation for fleets") as winget answers
# them. 5 leaves Kalnix installed with a step failed (KalnixSetup.log names it): winget must
# record the installation. Codes of Kalnix's own with no winget equivalent are "custom".
set(success_codes 5)
set(expected_codes
  "1|cancelledByUser"      # cancelled by the user
  "2|invalidParameter"     # bad command-line option
  "3|custom"               # not run with administrator rights
  "4|custom"               # a file or the settings key not written (an earlier file in use among the causes)
  "6|systemNotSupported"   # the x86 setup program on 64-bit Windows
  "7|custom"               # the install folder was refused
  "8|alreadyInstalled")    # installed by the Windows Installer package, left as it is

# file(SHA256) gives lowercase; winget prints and compares uppercase.
function(kalnix_sha256 file var)
  file(SHA256 ${file} hash)
  string(TOUPPER ${hash} hash)
  set(${var} ${hash} PARENT_SCOPE)
endfunction()

# The value of PROPERTY in an MSI package's Property table.
function(kalnix_msi_property package property var)
  execute_process(COMMAND ${KALNIX_MSIINFO} export ${package} Property
    RESULT_VARIABLE result OUTPUT_VARIABLE table ERROR_VARIABLE error)
  if(NOT result EQUAL 0 OR NOT table MATCHES "(^|\n)${property}\t([^\r\n]+)")
    message(FATAL_ERROR "${package}: no ${property} in its Property table (${result} ${error})")
  endif()
  set(${var} "${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

set(entries "")
foreach(installer ${KALNIX_INSTALLERS})
  string(REPLACE "|" ";" fields "${installer}")
  list(GET fields 0 arch)
  list(GET fields 1 type)
  list(GET fields 2 file)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "no ${file}: a release needs both architectures built first (bash scripts/build.sh)")
  endif()
  get_filename_component(name ${file} NAME)
  kalnix_sha256(${file} hash)
  string(APPEND entries
    "- Architecture: ${arch}\n"
    "  InstallerType: ${type}\n"
    "  InstallerUrl: ${KALNIX_DOWNLOAD_URL}/${name}\n"
    "  InstallerSha256: ${hash}\n")
  if(type STREQUAL "nullsoft")
    # Elevated through its manifest when started; /D= must come last, as winget puts it.
    string(APPEND entries
      "  ElevationRequirement: elevatesSelf\n"
      "  InstallerSwitches:\n"
      "    Silent: /S\n"
      "    SilentWithProgress: /S\n"
      "    InstallLocation: /D=<INSTALLPATH>\n"
      "  InstallerSuccessCodes:\n")
    foreach(code ${success_codes})
      string(APPEND entries "  - ${code}\n")
    endforeach()
    string(APPEND entries "  ExpectedReturnCodes:\n")
    foreach(row ${expected_codes})
      string(REPLACE "|" ";" row "${row}")
      list(GET row 0 code)
      list(GET row 1 response)
      string(APPEND entries "  - InstallerReturnCode: ${code}\n    ReturnResponse: ${response}\n")
    endforeach()
    # The Apps & Features entry's key, which both setup programs write.
    string(APPEND entries "  ProductCode: Kalnix\n")
  else()
    kalnix_msi_property(${file} ProductCode product_code)
    kalnix_msi_property(${file} UpgradeCode upgrade_code)
    # winget's default location switch for a package sets TARGETDIR, which Kalnix's folder is
    # not derived from.
    string(APPEND entries
      "  InstallerSwitches:\n"
      "    InstallLocation: 'INSTALLFOLDER=\"<INSTALLPATH>\"'\n"
      "  ProductCode: '${product_code}'\n"
      "  AppsAndFeaturesEntries:\n"
      "  - UpgradeCode: '${upgrade_code}'\n")
  endif()
  # Both x86 installers refuse 64-bit Windows.
  if(arch STREQUAL "x86")
    string(APPEND entries "  UnsupportedOSArchitectures:\n  - x64\n  - arm64\n")
  endif()
endforeach()

set(head "PackageIdentifier: ${id}\nPackageVersion: ${KALNIX_VERSION}\n")
set(tail "ManifestVersion: ${manifest_version}\n")
set(dir ${KALNIX_WINGET_DIR})
file(REMOVE_RECURSE ${dir})
file(WRITE ${dir}/${id}.yaml
  "${schema}.version.${manifest_version}.schema.json\n"
  "${head}"
  "DefaultLocale: en-US\n"
  "ManifestType: version\n"
  "${tail}")
file(WRITE ${dir}/${id}.installer.yaml
  "${schema}.installer.${manifest_version}.schema.json\n"
  "${head}"
  "Scope: machine\n"
  "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n"
  "UpgradeBehavior: install\n"
  "Installers:\n"
  "${entries}"
  "ManifestType: installer\n"
  "${tail}")
file(WRITE ${dir}/${id}.locale.en-US.yaml
  "${schema}.defaultLocale.${manifest_version}.schema.json\n"
  "${head}"
  "PackageLocale: en-US\n"
  "Publisher: ${KALNIX_PUBLISHER}\n"
  "PublisherUrl: ${KALNIX_WEBSITE}\n"
  "PackageName: Kalnix\n"
  "PackageUrl: ${KALNIX_WEBSITE}\n"
  "License: Proprietary\n"
  "Copyright: ${KALNIX_PUBLISHER}\n"
  "ShortDescription: Keeps a Windows laptop from staying awake with its lid closed.\n"
  "Description: |-\n"
  "  Kalnix runs in the notification area and protects a laptop whose lid is closed from\n"
  "  staying awake in a bag: it makes the lid-close action compulsory, or sounds an alarm\n"
  "  and puts the laptop to rest itself when it has not gone to sleep.\n"
  "Moniker: kalnix\n"
  "Tags:\n- battery\n- laptop\n- lid\n- power\n- sleep\n"
  "ManifestType: defaultLocale\n"
  "${tail}")
message(STATUS "winget manifests of ${id} ${KALNIX_VERSION} in ${dir}")
