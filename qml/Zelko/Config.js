.pragma library

// The first screen runs this query, so it is never empty: every machine that runs
// the client has Qt installed.
var defaultQuery = "qt"
var pageSize = 10
var maxRecent = 8
var recentKey = "recent/queries"
// The reference service's HTTPS endpoint; the search address is compiled into the client.
var feedbackUrl = "https://127.0.0.1:47312/feedback"
