// Compiled to Shift_JIS: these literals are the bytes the programs write.
#include "admin/common/message_texts.h"

const char kQtrm001SystemError[] =
    "QTRM001-E:システムエラーが発生しました。システム管理者に連絡してください。（詳細コード=%d）";
const char kQtrm003NoMemory[] =
    "QTRM003-E:メモリ容量が不足しました。メモリを消費しているプログラムを終了させてから実行してください。";
const char kQtrm008BadCatalogue[] =
    "QTRM008-E:ファイル (lorvex.msg) の内容は不正です。Lorvexの環境を見直してください。";
const char kQtrm107CatalogueMissing[] =
    "QTRM107-E:メッセージファイル (%s) がオープンできません。Lorvexの環境を見直してください。";
const char kQtrm109BadRegistryValue[] =
    "QTRM109-E:レジストリキー(%s,%s)の、値(%s)の内容が不正です。Lorvexの環境を見直してください。";

const char kPageTitleLine[] = "<HTML><HEAD><TITLE>Lorvex メッセージ</title></HEAD>";
const char kPageHeadingLine[] = "<H2>メッセージ</H2></CENTER>";
const char kPageBackButtonLine[] = "<DL><DD><INPUT TYPE=\"button\" VALUE=\"戻る\" onClick=\"history.go(-1)\"></DL>";
