// The whole layer in one include. Every header starts with a list of what it offers:
//   WfObject.h    CObject, run-time classes, exceptions
//   WfString.h    CString
//   WfGeometry.h  CPoint, CSize, CRect
//   WfGdi.h       CGdiObject, CPen, CBrush, CFont, CBitmap, CDC, CPaintDC, CClientDC, CWindowDC
//   WfWnd.h       CWnd, message maps
//   WfControls.h  CEdit, CButton, CStatic, CListBox, CMenu, CImageList
//   WfDialog.h    CDialog, data exchange and validation
//   WfApp.h       CWinApp, AfxMessageBox, CWaitCursor
//   WfPlatform.h  the platform seam (message boxes, shell, process starts, GUIDs)
#pragma once

#include "WfApp.h"
#include "WfControls.h"
#include "WfDialog.h"
#include "WfGdi.h"
#include "WfGeometry.h"
#include "WfObject.h"
#include "WfPlatform.h"
#include "WfString.h"
#include "WfWnd.h"
