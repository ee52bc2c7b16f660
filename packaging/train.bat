@echo off
rem Practice without a camera: "train" updates three simulated cameras, "train
rem restore FILE" recovers the first one from the console text of its update.
setlocal
rem The transcript is named from where the technician stands, before the cd.
set "transcript=%~f2"
cd /d "%~dp0"
if /i "%~1"=="restore" goto restore

set "KVX_SIM_CAMERA=profiles\demo.txt"
q713-update.exe
set status=%ERRORLEVEL%
echo.
echo Practice update ended with exit status %status%.
echo To practise a recovery: run train again, stop the first camera's update at its
echo reboot prompt with Ctrl-C, save the console text into a file in this folder,
echo for example update.txt, and run: train restore update.txt
exit /b %status%

:restore
if "%~2"=="" (
    echo usage: train restore TRANSCRIPT
    exit /b 1
)
rem The first camera as a stopped update leaves it: on 2.3.1, calibration empty.
set "KVX_SIM_CAMERA=profiles\demo-interrupted.txt"
q713-restore.exe "%transcript%"
set status=%ERRORLEVEL%
echo.
echo Practice restore ended with exit status %status%.
exit /b %status%
