#pragma once

// True when the 64-bit Outlook 2010 is registered with Windows Installer: its MAPI cannot serve a 32-bit tool.
bool IsOutlook2010x64Installed();
