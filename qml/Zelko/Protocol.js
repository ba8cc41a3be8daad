.pragma library
.import Zelko 1.0 as Zelko

// Query texts and answers of the search service (see service/README.md).

var Search = 1
var Details = 2

function searchQuery(q, page, pageSize, sign) {
    return JSON.stringify({ service: Search, q: q, page: page, pageSize: pageSize,
                            sign: sign("1|" + q + "|" + page + "|" + pageSize) })
}

function detailsQuery(name, sign) {
    return JSON.stringify({ service: Details, name: name, sign: sign("2|" + name) })
}

// The answer's JSON object, or null when it is not one of the expected service type.
function parseAnswer(json, service) {
    try {
        var answer = JSON.parse(json)
        return answer !== null && typeof answer === "object" && answer.service === service ? answer : null
    } catch (e) {
        return null
    }
}

// The Request element's errCode values.
function transportMessage(errCode) {
    switch (errCode) {
    case Zelko.Request.TimeOut: return qsTr("The search service did not answer in time.")
    case Zelko.Request.Error: return qsTr("The search service could not be reached, or its answer could not be read.")
    case Zelko.Request.Canceled: return qsTr("Search cancelled.")
    case Zelko.Request.DataError: return qsTr("The search service sent an empty answer.")
    case Zelko.Request.OtherError: return qsTr("The request to the search service failed.")
    }
    return qsTr("Unexpected failure (code %1).").arg(errCode)
}

// The error byte of the service's answer.
function serviceMessage(code) {
    switch (code) {
    case 1: return qsTr("The service could not read the query.")
    case 2: return qsTr("The service rejected the query's signature.")
    case 3: return qsTr("The service does not offer this kind of query.")
    case 4: return qsTr("The package is not installed.")
    case 5: return qsTr("The service failed while answering.")
    }
    return qsTr("The service reported error %1.").arg(code)
}

// What a failed call shows: code is the service's error byte when fromService,
// the Request element's errCode otherwise (RequestCall's failed signal).
function failureMessage(code, fromService) {
    return fromService ? serviceMessage(code) : transportMessage(code)
}
