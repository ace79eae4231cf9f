@echo off
rem Writes the package from the operation's assembly folder (where this script lies).
rem   Save-Package.cmd <operation id> "<temp folder>"  "<package folder>" <revision>
rem Takes <temp folder>\<id>.cfg and Cfg-View.html from the assembly folder.
setlocal
set "id=%~1"
set "temp_root=%~2"
set "pkg=%~3"
set "rev=%~4"
set "asm=%~dp0"
if "%id%"=="" goto usage
if "%pkg%"=="" goto usage
if not exist "%temp_root%\%id%.cfg" goto failed
if not exist "%asm%Cfg-View.html" goto failed

if not exist "%pkg%\kit" mkdir "%pkg%\kit"
copy /y "%temp_root%\%id%.cfg" "%pkg%\Idagent.cfg" >nul
if errorlevel 1 goto failed
copy /y "%asm%Cfg-View.html" "%pkg%\Packages-View.html" >nul
if errorlevel 1 goto failed
copy /y "%asm%package-version.cmd" "%pkg%\" >nul
if errorlevel 1 goto failed
for %%f in (Save-Package.cmd Edit-Package.cmd Cleanup-Package.cmd Install-Idagent.cmd Packages-View.css package-version.cmd) do (
  copy /y "%asm%%%f" "%pkg%\kit\" >nul
  if errorlevel 1 goto failed
)
for %%f in (Edit-Package.cmd Install-Idagent.cmd Packages-View.css) do (
  copy /y "%asm%%%f" "%pkg%\" >nul
  if errorlevel 1 goto failed
)
rem A copy that fails (a full disk) fails the script; each step is also checked by what it
rem leaves, as some interpreters report builtins' failures late.
for %%f in (Idagent.cfg Packages-View.html package-version.cmd Edit-Package.cmd Install-Idagent.cmd kit\Save-Package.cmd kit\Cleanup-Package.cmd) do if not exist "%pkg%\%%f" goto failed
>>"%pkg%\package-version.cmd" echo set packagerevision=%rev%
rem Read back: cmd may set no errorlevel when the line cannot be written (a full disk). Only
rem builtins: a program started here is one more start that can fail.
set "last="
for /f "usebackq delims=" %%l in ("%pkg%\package-version.cmd") do set "last=%%l"
if not "%last%"=="set packagerevision=%rev%" goto failed
echo Saved revision %rev% of package "%pkg%"
echo Save-Package=000
exit /b 0

:failed
>"%temp_root%\errors-%id%.txt" echo Could not save package "%pkg%" of operation %id%
echo Save-Package=001
exit /b 1

:usage
echo usage: Save-Package.cmd operation-id "temp-folder"  "package-folder" revision
echo Save-Package=002
exit /b 2
