#include "IEditorDelegate.h"

#include "igraphics/IGraphics.h"

namespace iplug
{

IEditorDelegate::IEditorDelegate(int nParams)
{
  const int n = nParams > 0 ? nParams : 0;
  mParams.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
  {
    mParams.push_back(std::make_unique<IParam>());
    mParams.back()->SetChangeCounter(&mParamChanges);
  }
}

IEditorDelegate::~IEditorDelegate() = default;

void IEditorDelegate::SetGraphics(igraphics::IGraphics* graphics)
{
  if (!graphics)
    mMessageBoxes.DropAll();
  mGraphics = graphics;
}

void IEditorDelegate::ShowMessageBox(const std::string& text, const std::string& title, EMsgBoxType type,
                                     MessageBoxCompletion completion)
{
  mMessageBoxes.Show(mGraphics != nullptr, mGraphics ? mGraphics->HostTopLevelWindow() : 0,
                     MessageBoxCall{text, title, type}, std::move(completion));
}

IParam* IEditorDelegate::GetParam(int paramIdx)
{
  return paramIdx >= 0 && paramIdx < NParams() ? mParams[static_cast<size_t>(paramIdx)].get() : nullptr;
}

const IParam* IEditorDelegate::GetParam(int paramIdx) const
{
  return paramIdx >= 0 && paramIdx < NParams() ? mParams[static_cast<size_t>(paramIdx)].get() : nullptr;
}

void IEditorDelegate::SendParameterValueFromUI(int paramIdx, double normalizedValue)
{
  if (IParam* param = GetParam(paramIdx))
    param->SetNormalized(normalizedValue);
}

void IEditorDelegate::BeginInformHostOfParamChangeFromUI(int paramIdx)
{
  BeginInformHostOfParamChange(paramIdx);
}

void IEditorDelegate::EndInformHostOfParamChangeFromUI(int paramIdx)
{
  EndInformHostOfParamChange(paramIdx);
}

void IEditorDelegate::SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize, const void* data)
{
  if (mGraphics)
    mGraphics->SendControlMsgFromDelegate(ctrlTag, msgTag, dataSize, data);
}

void IEditorDelegate::SendCurrentParamValuesFromDelegate()
{
  for (int i = 0; i < NParams(); ++i)
    SendParameterValueFromDelegate(i);
}

void IEditorDelegate::SendParameterValueFromDelegate(int paramIdx)
{
  if (mGraphics)
    if (const IParam* param = GetParam(paramIdx))
      mGraphics->SetParamValueFromDelegate(paramIdx, param->GetNormalized());
}

void IEditorDelegate::EditorResizeFromUI(int width, int height, bool needsPlatformResize)
{
  (void)needsPlatformResize;
  mEditorWidth = width;
  mEditorHeight = height;
}

} // namespace iplug
