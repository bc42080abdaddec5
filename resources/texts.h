// Every text the updater shows, in one place. This file is UTF-8; the build
// compiles it with -fexec-charset=CP932, so each literal holds the very code
// page 932 bytes that reach the screen.
#pragma once

// Caption of the dialog and of every message box but the update run's.
#define APP_TITLE "Velanoric アップデート Ver 1.01"

// The update run.
#define TEXT_ERROR_CAPTION "エラー"
#define TEXT_CANNOT_WRITE "ファイルが書き込めません。[%s]"
#define TEXT_CANNOT_READ "更新ファイルが読み込めません。[%s]"

// Start-up.
#define TEXT_NOT_INSTALLED                                                      \
    "『Velanoric』がインストールされていません。インストールが終了してから再度" \
    "アップデートを行って下さいませ。"
#define TEXT_ALREADY_APPLIED "既にこのパッチは適用済みです。\n更に上書きで適用しますか？"
#define TEXT_REGISTRY_ERROR "レジストリエラー"
#define TEXT_NO_DIALOG "アップデート画面を表示できませんでした。"

// The dialog's outcome.
#define TEXT_UPDATE_DONE "更新は完了しました。"
#define TEXT_UPDATE_FAILED                                                      \
    "更新ファイル書き込みに失敗しました。ゲームが起動されている場合は、終了して" \
    "から再度実行して下さい。"
