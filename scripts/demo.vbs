' The main job's client, in two steps:
'
'   cscript //nologo demo.vbs save FILE.qor
'       connects to the QOR server, builds a small configuration on the
'       simulated controller through the automation members and saves it;
'   cscript //nologo demo.vbs poll FILE.qor [reads]
'       opens that configuration, starts polling, prints the data block's
'       values as they change, stops polling and lets the server go.
'
' A script passes its variables by reference as VARIANTs, which the
' interface's [out] long arguments do not take: the script passes CLng(0)
' there and learns the handles from GetChannels, GetDevices and
' GetDataBlocks, whose lists are VARIANTs. Scripts see the IDriver members,
' so polling starts with StartWait.
Option Explicit

' errors is emptied before each add: it receives one result per property.
Dim server, errors, channel, device, block, handles, names, values, qualities, stamps
Dim reads, i, k, line, args, result, mode, file
Set args = WScript.Arguments
If args.Count < 2 Then
    WScript.Echo "usage: demo.vbs save|poll FILE.qor [reads]"
    WScript.Quit 2
End If
mode = LCase(args(0))
file = args(1)
reads = 10
If args.Count > 2 Then reads = CInt(args(2))

Sub Check(what)
    If Err.Number <> 0 Then
        WScript.Echo what & " failed: 0x" & Hex(Err.Number) & " " & Err.Description
        ' Release the server before leaving, so that it can close.
        Set server = Nothing
        WScript.Quit 1
    End If
End Sub

' Waits without WScript.Sleep: under Wine's script host that lets the
' server's proxy go, and a server whose last client has gone closes.
Sub Pause(seconds)
    Dim deadline
    deadline = Timer + seconds
    Do While Timer < deadline And Timer >= deadline - seconds - 1
    Loop
End Sub

' The handles of the first channel, its first device and that device's first block.
Sub FindBlock()
    handles = Empty
    server.GetChannels handles, names, CLng(0)
    channel = handles(0)
    handles = Empty
    server.GetDevices channel, handles, names, CLng(0)
    device = handles(0)
    handles = Empty
    server.GetDataBlocks device, handles, names, CLng(0)
    block = handles(0)
End Sub

On Error Resume Next
Set server = CreateObject("Veltrane.Hadrel")
Check "CreateObject(""Veltrane.Hadrel"")"
WScript.Echo "Connected to " & server.Name & " (" & server.FullName & ")"

If mode = "save" Then
server.FileNew
Check "FileNew"
errors = Empty
server.AddChannel Array("Name", "Description", "PrimaryCPName", "PrimaryVFDName", "Enabled"), _
                  Array("Line1", "Demo line", "CP_DEMO", "VFD_DEMO", 1), errors, CLng(0)
Check "AddChannel"
server.GetChannels handles, names, CLng(0)
channel = handles(0)
errors = Empty
server.AddDevice channel, Array("Name", "PrimaryConnName", "Enabled"), _
                 Array("Press1", "PLC_DEMO", 1), errors, CLng(0)
Check "AddDevice"
server.GetDevices channel, handles, names, CLng(0)
device = handles(0)
errors = Empty
server.AddDataBlock device, Array("Name", "StartAddress", "Length", "DataType", "PrimaryPollTime", "AccessTime", "Enabled"), _
                    Array("Counts", "DB10,0", 4, 2, "0.2", "", 1), errors, CLng(0)
Check "AddDataBlock"
FindBlock
Check "Finding the block"
WScript.Echo "Configuration: channel Line1 on CP_DEMO/VFD_DEMO, device Press1 on PLC_DEMO, block Counts = DB10, 4 words"

server.FileSaveAs file
Check "FileSaveAs"
WScript.Echo "Saved as " & server.FullConfigFileName
Set server = Nothing
WScript.Quit 0
End If

server.FileOpen file
Check "FileOpen"
WScript.Echo "Opened " & server.FullConfigFileName
FindBlock
Check "Finding the block"

server.StartWait
Check "StartWait"
WScript.Echo "Polling: " & server.Running

For i = 1 To reads
    Pause 0.5
    values = Empty
    qualities = Empty
    stamps = Empty
    Err.Clear
    result = server.ReadData(CLng(block), CInt(3), CLng(0), CLng(0), CLng(4), CInt(0), CSng(0), CSng(0), values, qualities, stamps)
    If Err.Number <> 0 Then
        ' Before the block's first poll the server has no values to give.
        WScript.Echo "read " & i & ": no values yet (0x" & Hex(Err.Number) & " " & Err.Description & ")"
        Err.Clear
    Else
        line = "read " & i & ":"
        For k = 0 To UBound(values)
            line = line & " " & values(k)
        Next
        line = line & "  (status 0x" & Hex(qualities(0) And 255) & ")"
        WScript.Echo line
    End If
Next

server.Stop
Check "Stop"
WScript.Echo "Polling stopped: running = " & server.Running
Set server = Nothing
WScript.Echo "Released the server"
