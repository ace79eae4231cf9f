@echo off
rem Removes what one package operation left in the temp folder. Copied there as
rem cleanup-<operation id>.cmd; the operation id is taken from that name.
setlocal
set "id=%~n0"
set "id=%id:~8%"
set "temp_root=%~dp0"
if "%id%"=="" exit /b 0
if exist "%temp_root%PackAsm-%id%" rd /s /q "%temp_root%PackAsm-%id%"
if exist "%temp_root%%id%.cfg" del /q "%temp_root%%id%.cfg"
if exist "%temp_root%errors-%id%.txt" del /q "%temp_root%errors-%id%.txt"
echo Cleaned up operation %id%
echo %~n0=000
exit /b 0
