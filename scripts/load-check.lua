-- wrk script: posts $ZELKO_LOAD_BODY and checks every answer. Each must be a 200 carrying
-- a good frame equal to the first one ($ZELKO_LOAD_DIR/expected.bin when that exists);
-- answers other than 200 are counted apart. wrk copies strings between threads only up to
-- a NUL, so each thread keeps its first answer in a file of its own in $ZELKO_LOAD_DIR,
-- compared at the end; the one they agree on is left there as answer.bin.
local dir = os.getenv("ZELKO_LOAD_DIR")
wrk.method = "POST"
wrk.body = os.getenv("ZELKO_LOAD_BODY")
local threads = {}
function setup(thread) table.insert(threads, thread); thread:set("id", #threads) end
local function slurp(path)
    local f = io.open(path, "rb")
    if not f then return nil end
    local text = f:read("*a"); f:close(); return text
end
function init(args)
    wrong = 0; refused = 0; answers = 0
    first = slurp(dir .. "/expected.bin")
end
-- Header of a good answer: head 0, service type 1, error byte 0.
local good = "\0\0\0\0\1\0\0\0\0"
function response(status, headers, body)
    answers = answers + 1
    if status ~= 200 then refused = refused + 1; return end
    if body:sub(1, 9) ~= good then wrong = wrong + 1; return end
    if first == nil then
        first = body
        local out = io.open(dir .. "/answer-" .. id .. ".bin", "wb"); out:write(body); out:close()
    elseif body ~= first then
        wrong = wrong + 1
    end
end
function done(summary, latency, requests)
    local wrongs, refusals, answered, seen = 0, 0, 0, nil
    for i, t in ipairs(threads) do
        wrongs = wrongs + t:get("wrong"); refusals = refusals + t:get("refused")
        answered = answered + t:get("answers")
        local f = slurp(dir .. "/answer-" .. i .. ".bin")
        if f ~= nil then
            if seen == nil then seen = f elseif f ~= seen then wrongs = wrongs + 1 end
        end
    end
    if seen ~= nil then local out = io.open(dir .. "/answer.bin", "wb"); out:write(seen); out:close() end
    io.write(string.format("checked answers: %d, wrong: %d, refused: %d\n", answered, wrongs, refusals))
    io.write(string.format("latency percentiles: p50 %d us, p99 %d us\n",
        latency:percentile(50), latency:percentile(99)))
end
