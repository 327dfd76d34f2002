# Builds the Windows installer of Torvane: a release build, windeployqt, the media tool and ffmpeg
# under the names the program runs them by, then makensis on torvane.nsi.
#
#   powershell -ExecutionPolicy Bypass -File packaging\windows\make-installer.ps1 `
#       -YtDlp C:\tools\yt-dlp.exe -Ffmpeg C:\tools\ffmpeg.exe
#
# Needs on PATH: cmake, a compiler that Qt was built with, Qt 6's bin folder (windeployqt) and
# makensis (NSIS 3). yt-dlp.exe is the standalone build; ffmpeg.exe a static build, so that neither
# needs anything beside it. The result is build-windows\torvane-VERSION-win64.exe.
param(
    [Parameter(Mandatory = $true)][string]$YtDlp,
    [Parameter(Mandatory = $true)][string]$Ffmpeg,
    [string]$BuildDir = "build-windows",
    [string]$Makensis = "makensis"
)
$ErrorActionPreference = "Stop"

function Invoke-Checked {
    param([string]$Program, [string[]]$Arguments)
    & $Program @Arguments
    if ($LASTEXITCODE -ne 0) { throw "$Program failed with exit code $LASTEXITCODE" }
}

$root = Resolve-Path (Join-Path $PSScriptRoot "..\..")
foreach ($tool in @($YtDlp, $Ffmpeg)) {
    if (-not (Test-Path $tool -PathType Leaf)) { throw "$tool not found" }
}
$version = [regex]::Match((Get-Content (Join-Path $root "CMakeLists.txt") -Raw),
    'project\(Torvane VERSION ([0-9.]+)').Groups[1].Value
if (-not $version) { throw "no version in CMakeLists.txt" }

Invoke-Checked cmake @("-S", $root, "-B", $BuildDir, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF")
Invoke-Checked cmake @("--build", $BuildDir, "--config", "Release", "--target",
    "torvane", "torvane-fetch", "torvane-host", "torvane_windows_icon")

# Single-configuration generators put the programs into the build folder, Visual Studio into
# its Release subfolder.
$programDir = $BuildDir
if (Test-Path (Join-Path $BuildDir "Release\torvane.exe")) { $programDir = Join-Path $BuildDir "Release" }

$stage = Join-Path $BuildDir "stage"
if (Test-Path $stage) { Remove-Item -Recurse -Force $stage }
New-Item -ItemType Directory -Path $stage | Out-Null
Copy-Item (Join-Path $programDir "torvane.exe"), (Join-Path $programDir "torvane-fetch.exe"),
    (Join-Path $programDir "torvane-host.exe") $stage

# The Qt libraries and plugins (platform, styles, image formats, the TLS back ends) beside them.
Invoke-Checked windeployqt @("--release", "--no-translations", "--no-opengl-sw",
    (Join-Path $stage "torvane.exe"), (Join-Path $stage "torvane-fetch.exe"),
    (Join-Path $stage "torvane-host.exe"))

# The program starts the media tool and ffmpeg from its own folder under these fixed names.
Copy-Item $YtDlp (Join-Path $stage "core_engine.bin")
Copy-Item $Ffmpeg (Join-Path $stage "media_codec.bin")

$installer = Join-Path (Resolve-Path $BuildDir) "torvane-$version-win64.exe"
Invoke-Checked $Makensis @("-V2", "-WX",
    "-DSTAGE=$(Resolve-Path $stage)",
    "-DVERSION=$version",
    "-DICON=$(Resolve-Path (Join-Path $BuildDir 'packaging\torvane.ico'))",
    "-DOUTFILE=$installer",
    (Join-Path $root "packaging\windows\torvane.nsi"))
Write-Output $installer
