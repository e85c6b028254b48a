// Texts of the status lines, in UTF-8. The string table of quorvane.rc is
// built from these definitions; the host tests use the same ones to check
// the lines that the reply evaluation produces.
#pragma once

#define TEXT_NET_INIT_FAILED "通信の初期化に失敗しました。"
#define TEXT_SEND_FAILED "パケットの送信に失敗しました。"
#define TEXT_WAITING "応答を待っています… (%s)"
#define TEXT_SERVER_NOT_FOUND "サーバが見つかりませんでした。 "
#define TEXT_WAITING_RETRY "応答を待っています… (リトライ:%d)"
#define TEXT_INVALID_REPLY "不正な応答を受信しました。 (%d)"
#define TEXT_CONNECTION_REFUSED "接続を拒否されました。"
#define TEXT_TEST_COMPLETED "テストは正常に完了しました。"
#define TEXT_SYNC_SUCCEEDED "時刻合わせに成功しました。"
#define TEXT_SYNC_FAILED "時刻合わせに失敗しました。"
#define TEXT_NO_VALID_REPLY "有効な応答がありませんでした。"
#define TEXT_LOOKING_UP "サーバを検索しています… (%s)"
#define TEXT_SERVER_NOT_READY "サーバの準備ができていません。"
#define TEXT_REPLY_HEADER "LI=%d VN=%d Mode=%d Stratum=%d Poll=%d Precision=%d"
#define TEXT_TIME_OBTAINED "時刻を取得しました。 (%d/%d/%d %d:%02d:%02d.%03d)"
#define TEXT_ROUND_TRIP "往復遅延 %lu.%03lu秒"
#define TEXT_CLOCK_ERROR "時刻誤差 %lu.%03lu秒"
#define TEXT_SYNCED_AT "%s に時刻同期しました。"
#define TEXT_PREVIOUS_RESULT "直前の時刻合わせの結果です。"
#define TEXT_SERVICE_STOPPED "時刻合わせサービスが止まっています。"

#define TEXT_OUT_OF_RANGE "範囲外の数値が指定されています。"
#define TEXT_NOT_A_NUMBER "不正な数値です。"
