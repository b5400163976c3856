#include "engine/runtime/module_table.h"

EngineObject* g_DeflateModule = nullptr;
EngineObject* g_GzipModule = nullptr;
EngineObject* g_ZipModule = nullptr;
EngineObject* g_InflateModule = nullptr;
EngineObject* g_HuffDecoderModule = nullptr;
EngineObject* g_HuffEncoderModule = nullptr;
EngineObject* g_CharsetNameModule = nullptr;
EngineObject* g_TextConvModule = nullptr;
EngineObject* g_SettingsModule = nullptr;
EngineObject* g_TextDocModule = nullptr;
EngineObject* g_NativeDocModule = nullptr;
EngineObject* g_RaZoDocModule = nullptr;
EngineObject* g_TextViewModule = nullptr;
EngineObject* g_WinDeviceModule = nullptr;
EngineObject* g_PalmDocModule = nullptr;
EngineObject* g_TextSearchModule = nullptr;
EngineObject* g_DbCopyModule = nullptr;
EngineObject* g_DbFileModule = nullptr;
EngineObject* g_SortModule = nullptr;
EngineObject* g_FileSysModule = nullptr;
EngineObject* g_RepeatRuleModule = nullptr;
EngineObject* g_Base64Module = nullptr;
EngineObject* g_DictModule = nullptr;
EngineObject* g_MemStreamModule = nullptr;
EngineObject* g_TreeModule = nullptr;
EngineObject* g_ScramblerModule = nullptr;
EngineObject* g_SyncModule = nullptr;
EngineObject* g_ChecksumModule = nullptr;
EngineObject* g_RecordStoreModule = nullptr;
EngineObject* g_Md5Module = nullptr;
EngineObject* g_ThreadModule = nullptr;
EngineObject* g_DateModule = nullptr;
EngineObject* g_RecordListModule = nullptr;
EngineObject* g_PatternModule = nullptr;
EngineObject* g_RecordIndexModule = nullptr;
EngineObject* g_MimeModule = nullptr;
EngineObject* g_AllocatorModule = nullptr;
EngineObject* g_BlockFileModule = nullptr;
EngineObject* g_UrlModule = nullptr;
EngineObject* g_IndexCursorModule = nullptr;
EngineObject* g_StringModule = nullptr;

namespace {

EngineObject* const* const kEntries[kModuleTableSize] = {
    &g_DeflateModule,     &g_GzipModule,        &g_ZipModule,         &g_InflateModule,
    &g_HuffDecoderModule, &g_HuffEncoderModule, &g_CharsetNameModule, &g_TextConvModule,
    &g_SettingsModule,    &g_TextDocModule,     &g_NativeDocModule,   &g_RaZoDocModule,
    &g_TextViewModule,    &g_WinDeviceModule,   &g_PalmDocModule,     &g_TextSearchModule,
    &g_DbCopyModule,      &g_DbFileModule,      &g_SortModule,        &g_FileSysModule,
    &g_RepeatRuleModule,  &g_Base64Module,      &g_DictModule,        &g_MemStreamModule,
    &g_TreeModule,        &g_ScramblerModule,   &g_SyncModule,        &g_ChecksumModule,
    &g_RecordStoreModule, &g_Md5Module,         &g_ThreadModule,      &g_DateModule,
    &g_RecordListModule,  &g_PatternModule,     &g_RecordIndexModule, &g_MimeModule,
    &g_AllocatorModule,   &g_BlockFileModule,   &g_UrlModule,         &g_IndexCursorModule,
    &g_StringModule,
};

}  // namespace

EngineObject* const* Core_ModuleTableEntry(int index) noexcept {
  if (index < 0 || index >= kModuleTableSize) return nullptr;
  return kEntries[index];
}
