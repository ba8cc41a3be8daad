.pragma library

// The first screen runs this query, so it is never empty: every machine that runs
// the client has Qt installed.
var defaultQuery = "qt"
var pageSize = 10
var maxRecent = 8
var recentKey = "recent/queries"
// The reference service's HTTPS endpoint; the search address is compiled into the client.
var feedbackUrl = "https://127.0.0.1:47312/feedback"
// Milliseconds any request of the screens may take: past it, the screen says so and
// offers Retry, whatever the network does.
var requestTimeout = 15000
// What the service takes of a query (characters); the field takes no more.
var maxQueryLength = 256
// A query is sent this long after the last key, unless Enter sends it at once.
var typingDelay = 300
