#include "engine/runtime/module_table.h"

#include "engine/formats/palm_doc.h"
#include "engine/formats/text_doc.h"
#include "engine/runtime/allocator.h"
#include "engine/runtime/charset_name.h"
#include "engine/runtime/checksum.h"
#include "engine/runtime/date.h"
#include "engine/runtime/db_file.h"
#include "engine/runtime/dict.h"
#include "engine/runtime/file_sys.h"
#include "engine/runtime/mem_stream.h"
#include "engine/runtime/str.h"
#include "engine/runtime/text_conv.h"
#include "engine/runtime/url.h"
#include "engine/spare/base64.h"
#include "engine/spare/deflate.h"
#include "engine/spare/gzip.h"
#include "engine/spare/huffman.h"
#include "engine/spare/inflate.h"
#include "engine/spare/md5.h"
#include "engine/spare/mime.h"
#include "engine/spare/repeat_rule.h"
#include "engine/spare/scrambler.h"
#include "engine/spare/sort.h"
#include "engine/spare/tree.h"
#include "engine/spare/zip.h"
#include "engine/stores/settings_store.h"
#include "engine/view/text_search.h"
#include "engine/view/text_view.h"

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

EngineObject* g_hostDevice = nullptr;

}  // namespace

EngineObject* const* Core_ModuleTableEntry(int index) noexcept {
  if (index < 0 || index >= kModuleTableSize) return nullptr;
  return kEntries[index];
}

void Core_SetHostDeviceModule(EngineObject* device) noexcept {
  g_hostDevice = device;
}

// Each call stores its modules in the order of the start-up sequence. Modules
// that are not built yet keep their entries null.
StatusCode Core_RegisterBaseModules() noexcept {
  g_AllocatorModule = &AllocatorModule;
  g_DateModule = &DateModule;
  g_FileSysModule = &FileSysModule;
  g_MemStreamModule = &MemStreamModule;
  g_StringModule = &StringModule;
  g_UrlModule = &UrlModule;
  g_Base64Module = &Base64Module;
  g_ChecksumModule = &ChecksumModule;
  g_Md5Module = &Md5Module;
  g_ScramblerModule = &ScramblerModule;
  g_MimeModule = &MimeModule;
  g_SortModule = &SortModule;
  g_RepeatRuleModule = &RepeatRuleModule;
  g_DictModule = &DictModule;
  g_TreeModule = &TreeModule;
  return kOk;
}

StatusCode Core_RegisterCompressionModules() noexcept {
  g_DeflateModule = &DeflateModule;
  g_InflateModule = &InflateModule;
  g_ZipModule = &ZipModule;
  g_HuffEncoderModule = &HuffEncoderModule;
  g_HuffDecoderModule = &HuffDecoderModule;
  g_GzipModule = &GzipModule;
  return kOk;
}

StatusCode Core_RegisterTextModules() noexcept {
  g_CharsetNameModule = &CharsetNameModule;
  g_TextConvModule = &TextConvModule;
  return kOk;
}

// The output device is the host's (see Core_SetHostDeviceModule); the native
// and second-format handlers are registered once they are complete.
StatusCode Core_RegisterBuiltinModules() noexcept {
  g_WinDeviceModule = g_hostDevice;
  g_TextDocModule = &TextDocModule;
  g_PalmDocModule = &PalmDocModule;
  g_TextSearchModule = &TextSearchModule;
  g_TextViewModule = &TextViewModule;
  g_SettingsModule = &SettingsModule;
  return kOk;
}

StatusCode Core_RegisterDbFileModules() noexcept {
  g_DbFileModule = &DbFileModule;
  return kOk;
}

StatusCode Core_RegisterAllModules() noexcept {
  Core_RegisterBaseModules();
  Core_RegisterCompressionModules();
  Core_RegisterTextModules();
  Core_RegisterBuiltinModules();
  Core_RegisterDbFileModules();
  return kOk;
}

StatusCode Core_UnregisterModules() noexcept {
  return kOk;
}
