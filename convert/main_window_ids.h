// The control ids of the main window (dialog template 102): the window's procedure,
// its file list and auditions, and the conversion worker address the same controls.
#pragma once

constexpr int IDC_PROGRESSGROUP = 1997;
constexpr int IDC_OUTPUTGROUP = 1998;
constexpr int IDC_CONVERTERGROUP = 1999;
constexpr int IDC_ABOUT = 2001;
constexpr int IDC_FILELIST = 2003;
constexpr int IDC_ADDFILE = 2004;
constexpr int IDC_REMOVEFILE = 2005;
constexpr int IDC_REMOVEALL = 2006;
constexpr int IDC_PLAYFILE = 2007;
constexpr int IDC_CONVERT = 2008;
constexpr int IDC_PROGRESS = 2010;
constexpr int IDC_WAVQUALITY = 2011;
constexpr int IDC_OUTPUTDIR = 2012;
constexpr int IDC_CHANGEWAVPATH = 2013;
constexpr int IDC_SAMEDIRECTORY = 2014;
constexpr int IDC_TIMELABEL = 2015;
constexpr int IDC_FILELABEL = 2016;
constexpr int IDC_STOPPLAYING = 2017;
constexpr int IDC_ABORT = 2018;
constexpr int IDC_DEVICE = 2021;
constexpr int IDC_FORMAT = 2022;
constexpr int IDC_MP3QUALITY = 2023;
constexpr int IDC_TEMPOGROUP = 2025;
constexpr int IDC_TEMPO = 2026;
