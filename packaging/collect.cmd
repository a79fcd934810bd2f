@echo off
rem Writes the registry keys that comserial reads into one export file, for
rem comserial to read on another machine: comserial.html, the page beside
rem this file, in any web browser, or the Linux build:
rem
rem   collect.cmd [FILE]       then open comserial.html and choose FILE,
rem                            or on Linux:  comserial < FILE
rem
rem Without FILE it writes comserial-<computer name>.reg on the desktop (or,
rem without one, in the user's profile folder) and waits for a key press, so
rem that a double click shows where the file went. It needs no administrator
rem rights. A key that this machine does not have is left out, as comserial
rem would find it missing here too.
setlocal EnableExtensions

set "out=%~f1"
if not "%~1"=="" goto haveout
set "out=%USERPROFILE%\comserial-%COMPUTERNAME%.reg"
if exist "%USERPROFILE%\Desktop\" set "out=%USERPROFILE%\Desktop\comserial-%COMPUTERNAME%.reg"
:haveout

set "work=%TEMP%\comserial-collect-%RANDOM%%RANDOM%"
mkdir "%work%" 2>nul
if errorlevel 1 goto noworkdir

rem One export per key; copy /b joins them as they are (the reader takes
rem one export after another in one stream).
set parts=
set n=0
call :export HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
call :export HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS
call :export HKLM\SYSTEM\CurrentControlSet\Services\FTDIBUS
call :export HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage
if not defined parts goto nothing
copy /b %parts% "%out%" >nul
if errorlevel 1 goto nowrite
rd /s /q "%work%"

echo.
echo The registry keys are in "%out%"
echo To read it without Linux, open comserial.html (beside collect.cmd) in a
echo web browser and choose that file: it shows what comserial.exe prints here.
echo On Linux:  comserial ^< FILE
if "%~1"=="" pause
exit /b 0

:export
set /a n+=1
reg export "%~1" "%work%\%n%.reg" /y >nul 2>&1
if errorlevel 1 goto exportmissing
echo exported %~1
if defined parts set parts=%parts%+
set parts=%parts%"%work%\%n%.reg"
goto :eof
:exportmissing
echo not on this machine, left out: %~1
goto :eof

:noworkdir
echo cannot make the folder "%work%"
goto failed
:nothing
rd /s /q "%work%"
echo none of the keys could be exported
goto failed
:nowrite
rd /s /q "%work%"
echo cannot write "%out%"
:failed
if "%~1"=="" pause
exit /b 1
