#pragma once

#include <QByteArray>
#include <QString>

class TestHttpServer;

// Small media made with ffmpeg at test time: "v.mp4" (160x90 video with audio, 3 s) and an HLS
// master "hls/master.m3u8" with 720p and 360p variants, under `folder`.
bool makeSampleMedia(const QString &folder);

// Serves every file of `folder` under `prefix` ("/", "/hls/") with a fitting Content-Type.
void serveMediaFolder(TestHttpServer &server, const QString &folder, const QByteArray &prefix);
