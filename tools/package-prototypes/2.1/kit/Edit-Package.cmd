@echo off
rem Starts an edit operation on the package this script lies in.
rem   Edit-Package.cmd <operation id> "<temp folder>"
rem Leaves in the temp folder: PackAsm-<id>\ (with Save-Package.cmd) and cleanup-<id>.cmd.
setlocal
set "id=%~1"
set "temp_root=%~2"
if "%id%"=="" goto usage
if "%temp_root%"=="" goto usage
set "asm=%temp_root%\PackAsm-%id%"
set "kit=%~dp0kit"

copy /y "%kit%\Cleanup-Package.cmd" "%temp_root%\cleanup-%id%.cmd" >nul
if errorlevel 1 goto failed
if not exist "%asm%" mkdir "%asm%"
copy /y "%kit%\*.*" "%asm%\" >nul
if errorlevel 1 goto failed
if not exist "%asm%\Save-Package.cmd" goto failed
echo Prepared edit operation %id% of package "%~dp0"
echo Edit-Package=000
exit /b 0

:failed
>"%temp_root%\errors-%id%.txt" echo Could not prepare edit operation %id% of "%~dp0"
echo Edit-Package=001
exit /b 1

:usage
echo usage: Edit-Package.cmd operation-id "temp-folder"
echo Edit-Package=002
exit /b 2
