DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Kelvane"
