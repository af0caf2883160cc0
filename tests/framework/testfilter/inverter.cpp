#include "tests/framework/testfilter/inverter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/pages.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

constexpr ui::DialogControl kInverterControls[] = {
    ui::LText("Gain:", IDC_STATIC, 7, 10, 40, 8),
    ui::EditText(IDC_GAIN, 50, 8, 40, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_GAIN_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
    ui::AutoCheckBox("Invert image", IDC_INVERT, 7, 30, 80, 10),
};
constexpr ui::DialogTemplate kInverterDialogs[] = {
    {IDD_INVERTER, DS_PROPPAGE_STYLE, 170, 102, "MS Shell Dlg", 8, "", kInverterControls},
};
constexpr ui::StringResource kInverterStrings[] = {
    {IDS_INVERTER_TITLE, "Plenor Test Inverter Properties"},
};

}  // namespace

const ui::ModuleResources g_InverterResources{kInverterDialogs, kInverterStrings};

CUnknown* CTestInverter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) CTestInverter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CTestInverter::CTestInverter()
    : CCustomBaseFilter(CLSID_TestInverter),
      CPersistSettings(GetOwner(), CLSID_TestInverter, PersistKind::Signed,
                       {{L"\"GAIN\"", &m_nGain, VT_INT, VT_INT, true}}) {
  InitialiseInputTypes();
  InitParameters();
}

STDMETHODIMP CTestInverter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CCustomBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CTestInverter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_TestInverterProperties); }

void CTestInverter::InitParameters() {
  AddParameter("gain", &m_nGain, 1);
  AddParameter("invert", &m_bInvert, true);
}

void CTestInverter::InitialiseInputTypes() { AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo); }

HRESULT CTestInverter::ApplyTransform(BYTE* pIn, LONG /*lInBufferSize*/, LONG lInDataLength, BYTE* pOut,
                                      LONG lOutBufferSize, LONG& lOutDataLength) {
  const LONG n = std::max<LONG>(0, std::min(lInDataLength, lOutBufferSize));
  const int gain = m_nGain;
  const bool invert = m_bInvert;
  for (LONG i = 0; i < n; ++i) {
    int v = std::clamp(pIn[i] * gain, 0, 255);
    pOut[i] = static_cast<BYTE>(invert ? 255 - v : v);
  }
  lOutDataLength = n;
  return S_OK;
}

HRESULT CTestInverter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (*mtOut->Type() != MEDIATYPE_Video || *mtOut->Subtype() != MEDIASUBTYPE_RGB24 ||
      *mtOut->FormatType() != FORMAT_VideoInfo || mtOut->FormatLength() < sizeof(VIDEOINFOHEADER) ||
      mtIn->FormatLength() < sizeof(VIDEOINFOHEADER))
    return VFW_E_TYPE_NOT_ACCEPTED;
  auto* in = reinterpret_cast<const VIDEOINFOHEADER*>(mtIn->Format());
  auto* out = reinterpret_cast<const VIDEOINFOHEADER*>(mtOut->Format());
  if (in->bmiHeader.biWidth != out->bmiHeader.biWidth || in->bmiHeader.biHeight != out->bmiHeader.biHeight)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTestInverter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  pProp->cBuffers = std::max<LONG>(pProp->cBuffers, 1);
  pProp->cbBuffer = static_cast<LONG>(GetBitmapSize(&m_vihIn.bmiHeader));
  if (pProp->cbAlign == 0) pProp->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CTestInverter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  return pMediaType->Set(m_pInput->CurrentMediaType());
}

CUnknown* CTestInverterProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) CTestInverterProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

CTestInverterProperties::CTestInverterProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_INVERTER, IDS_INVERTER_TITLE, &g_InverterResources) {}

HRESULT CTestInverterProperties::ReadSettings() {
  SendDlgItemMessage(m_hwnd, IDC_GAIN_SPIN, UDM_SETRANGE32, 0, 255);
  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("gain", sizeof value, value, &length))) return E_FAIL;
  SetDlgItemText(m_hwnd, IDC_GAIN, value);
  if (FAILED(m_pSettings->GetParameter("invert", sizeof value, value, &length))) return E_FAIL;
  CheckDlgButton(m_hwnd, IDC_INVERT, value[0] != '0' ? BST_CHECKED : BST_UNCHECKED);
  return S_OK;
}

HRESULT CTestInverterProperties::OnApplyChanges() {
  char value[256];
  GetDlgItemText(m_hwnd, IDC_GAIN, value, sizeof value);
  HRESULT hr = m_pSettings->SetParameter("gain", value);
  if (FAILED(hr)) return hr;
  return m_pSettings->SetParameter("invert", IsDlgButtonChecked(m_hwnd, IDC_INVERT) ? "true" : "false");
}
