.pragma library

var brand = "#1a4f8b"
var brandDark = "#0d2f57"
var page = "#f4f4f4"
var card = "#ffffff"
var line = "#dde1e6"
var text = "#1b1f24"
var muted = "#5f6b7a"
var errorBack = "#fdecea"
var errorText = "#8a1c12"
var noticeBack = "#eef1f5"
