@echo off
rem Starts a new package operation from this prototype version.
rem   Create-Package.cmd <operation id> "<temp folder>"
rem Leaves in the temp folder: <id>.cfg (the starting configuration),
rem PackAsm-<id>\ (the assembly folder with Save-Package.cmd) and cleanup-<id>.cmd.
setlocal
set "id=%~1"
set "temp_root=%~2"
if "%id%"=="" goto usage
if "%temp_root%"=="" goto usage
set "asm=%temp_root%\PackAsm-%id%"

rem A copy that fails (a full disk) fails the script; each step is also checked by what it
rem leaves, as some interpreters report builtins' failures late.
copy /y "%~dp0kit\Cleanup-Package.cmd" "%temp_root%\cleanup-%id%.cmd" >nul
if errorlevel 1 goto failed
if not exist "%asm%" mkdir "%asm%"
copy /y "%~dp0kit\*.*" "%asm%\" >nul
if errorlevel 1 goto failed
copy /y "%~dp0package-version.cmd" "%asm%\" >nul
if errorlevel 1 goto failed
copy /y "%~dp0Idagent-prototype.cfg" "%temp_root%\%id%.cfg" >nul
if errorlevel 1 goto failed
for %%f in (Save-Package.cmd package-version.cmd) do if not exist "%asm%\%%f" goto failed
if not exist "%temp_root%\%id%.cfg" goto failed
echo Prepared package operation %id% from prototype "%~dp0"
echo Create-Package=000
exit /b 0

:failed
>"%temp_root%\errors-%id%.txt" echo Could not prepare package operation %id% from "%~dp0"
echo Create-Package=001
exit /b 1

:usage
echo usage: Create-Package.cmd operation-id "temp-folder"
echo Create-Package=002
exit /b 2
