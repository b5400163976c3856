// The ModuleTable: one global pointer per engine module, filled once at
// start-up by the five registration calls (engine/startup/engine_start.h) and read-only afterwards.
// Modules find each other only through these entries. An entry stays null until its module is
// registered.
#pragma once

#include "engine/runtime/core.h"

// Declared in the table's fixed order.
extern EngineObject* g_DeflateModule;
extern EngineObject* g_GzipModule;
extern EngineObject* g_ZipModule;
extern EngineObject* g_InflateModule;
extern EngineObject* g_HuffDecoderModule;
extern EngineObject* g_HuffEncoderModule;
extern EngineObject* g_CharsetNameModule;
extern EngineObject* g_TextConvModule;
extern EngineObject* g_SettingsModule;
extern EngineObject* g_TextDocModule;
extern EngineObject* g_NativeDocModule;
extern EngineObject* g_RaZoDocModule;
extern EngineObject* g_TextViewModule;
extern EngineObject* g_WinDeviceModule;
extern EngineObject* g_PalmDocModule;
extern EngineObject* g_TextSearchModule;
extern EngineObject* g_DbCopyModule;
extern EngineObject* g_DbFileModule;
extern EngineObject* g_SortModule;
extern EngineObject* g_FileSysModule;
extern EngineObject* g_RepeatRuleModule;
extern EngineObject* g_Base64Module;
extern EngineObject* g_DictModule;
extern EngineObject* g_MemStreamModule;
extern EngineObject* g_TreeModule;
extern EngineObject* g_ScramblerModule;
extern EngineObject* g_SyncModule;
extern EngineObject* g_ChecksumModule;
extern EngineObject* g_RecordStoreModule;
extern EngineObject* g_Md5Module;
extern EngineObject* g_ThreadModule;
extern EngineObject* g_DateModule;
extern EngineObject* g_RecordListModule;
extern EngineObject* g_PatternModule;
extern EngineObject* g_RecordIndexModule;
extern EngineObject* g_MimeModule;
extern EngineObject* g_AllocatorModule;
extern EngineObject* g_BlockFileModule;
extern EngineObject* g_UrlModule;
extern EngineObject* g_IndexCursorModule;
extern EngineObject* g_StringModule;

// The entries in declaration order, for code that walks the whole table.
constexpr int kModuleTableSize = 41;
EngineObject* const* Core_ModuleTableEntry(int index) noexcept;
