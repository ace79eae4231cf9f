@echo off
rem Installs the logon agent as the service Qel_Auth with this package's configuration.
rem Put idagent.exe beside this script; run it as an administrator.
setlocal
set "here=%~dp0"
set "target=%ProgramFiles%\Qel Identra"
if not exist "%here%idagent.exe" (
  echo idagent.exe is missing beside "%~nx0"
  exit /b 1
)
if not exist "%target%" mkdir "%target%"
copy /y "%here%idagent.exe" "%target%\" >nul
copy /y "%here%Idagent.cfg" "%target%\idagent.cfg" >nul
if not exist "%target%\idagent.cfg" exit /b 1
sc stop Qel_Auth >nul 2>&1
sc delete Qel_Auth >nul 2>&1
rem CF[-] makes the agent read idagent.cfg beside itself.
sc create Qel_Auth binPath= "\"%target%\idagent.exe\" -service CF[-]" start= auto
if errorlevel 1 exit /b 1
sc start Qel_Auth
exit /b 0
