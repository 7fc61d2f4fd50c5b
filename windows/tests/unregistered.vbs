' After regsvr32 /u: creating a class must fail with "ActiveX component can't create object".
Dim o
On Error Resume Next
Set o = CreateObject("kelShapeLib.Shapefile")
If Err.Number = 429 Then
  WScript.Echo "1 passed, 0 failed"
Else
  WScript.Echo "FAIL: CreateObject gave error " & Err.Number
  WScript.Echo "0 passed, 1 failed"
End If
