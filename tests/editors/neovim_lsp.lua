-- Neovim's own LSP client against the real `xmlpp --lsp`, on the project neovim_lsp.sh writes:
-- main.xml includes lib.xml (a define and the xmldef "uart") and ports.xml (an xmlput of "uart",
-- and one of "spi", which no xmldef defines: the deliberate mistake). The editor setup of
-- docs/editors.md is loaded before this script and starts the client when an XML file opens.
-- Checked: the diagnostics and their file, line and related include; hover on a reference and on
-- an if; go to definition of an include's file and of a fragment; after Neovim's incremental edits, that the
-- server's preview is the tool's output; and that hover names the command used, of the two for
-- main.xml, and :XmlppCommand picks the other. With XMLPP_NEOVIM_CASE=no-database (a project
-- without a database): the editor is told so. (The other features are the protocol's and are
-- tested with the npm client, tests/lsp.)
--
-- Each check prints "ok: WHAT" or "FAIL: WHAT: DETAIL"; Neovim ends with status 0 when every
-- check passed, else 1.

local failures = 0

local function say(line)
  io.stdout:write(line .. '\n')
end

local function check(what, ok, detail)
  if ok then
    say('ok: ' .. what)
  else
    failures = failures + 1
    say('FAIL: ' .. what .. ': ' .. vim.inspect(detail))
  end
end

local function finish()
  say(failures == 0 and 'neovim lsp: all checks passed'
    or ('neovim lsp: ' .. failures .. ' failed'))
  vim.cmd(failures == 0 and 'qall!' or 'cquit 1')
end

local root = vim.fn.getcwd()
local function uri(name)
  return vim.uri_from_fname(root .. '/' .. name)
end

-- Every window/showMessage the server sent.
local messages = {}
vim.lsp.handlers['window/showMessage'] = function(_, result)
  table.insert(messages, result)
end

-- Every publishDiagnostics, as the server sent it, besides what the client makes of it.
local published = {}
local show = vim.lsp.handlers['textDocument/publishDiagnostics']
vim.lsp.handlers['textDocument/publishDiagnostics'] = function(err, result, ctx, config)
  published[result.uri] = result.diagnostics
  return show(err, result, ctx, config)
end

-- The line (from 0) and column (from 0, in bytes: the project is ASCII, so UTF-16 units too)
-- of the first occurrence of `text` in a buffer, plus `shift` columns.
local function find(bufnr, text, shift)
  for number, line in ipairs(vim.api.nvim_buf_get_lines(bufnr, 0, -1, false)) do
    local column = line:find(text, 1, true)
    if column then
      return { line = number - 1, character = column - 1 + (shift or 0) }
    end
  end
  error('not in the buffer: ' .. text)
end

-- One request to the xmlpp client of a buffer: its result, or nil and the error.
local function request(bufnr, method, position)
  local params = { textDocument = { uri = vim.uri_from_bufnr(bufnr) }, position = position }
  local replies, err = vim.lsp.buf_request_sync(bufnr, method, params, 5000)
  if not replies then
    return nil, err
  end
  for _, reply in pairs(replies) do
    return reply.result, reply.err
  end
  return nil, 'no client answered'
end

-- The clients attached to a buffer, as a list (Neovim 0.7 keys them by id; 0.10 has get_clients).
local function clientsOf(bufnr)
  if vim.lsp.get_clients then
    return vim.lsp.get_clients({ bufnr = bufnr })
  end
  return vim.tbl_values(vim.lsp.buf_get_clients(bufnr))
end

local function attached(bufnr)
  return vim.wait(10000, function()
    return #clientsOf(bufnr) > 0
  end, 20)
end

local function run()
  vim.cmd('edit main.xml')
  local main = vim.api.nvim_get_current_buf()
  check('a client attaches to main.xml', attached(main), clientsOf(main))
  local client = clientsOf(main)[1]
  check('the client initializes', vim.wait(10000, function()
    return client and client.initialized
  end, 20), client)
  if not client or not client.initialized then
    return
  end
  vim.cmd('split notes.txt')
  local all = vim.lsp.get_clients and vim.lsp.get_clients() or vim.lsp.get_active_clients()
  check('one xmlpp --lsp, and no client for a text file', #all == 1 and client.name == 'xmlpp'
    and #clientsOf(vim.api.nvim_get_current_buf()) == 0, client.config.cmd)
  vim.cmd('close')
  local capabilities = client.server_capabilities or client.resolved_capabilities or {}
  local sync = capabilities.textDocumentSync
  check('the server announces incremental sync', type(sync) == 'table' and sync.change == 2, sync)

  -- Diagnostics: the mistake is in ports.xml, line 3 (2 from 0); main.xml has none.
  local ports = uri('ports.xml')
  vim.wait(10000, function()
    return published[ports] ~= nil and published[uri('main.xml')] ~= nil
  end, 20)
  local found = published[ports] or {}
  check('a diagnostic for ports.xml', #found == 1, published)
  local mistake = found[1] or { range = { start = {} } }
  check('on the line of the mistake', mistake.range.start.line == 2, mistake.range)
  check('naming the missing fragment', (mistake.message or ''):find('spi', 1, true) ~= nil, mistake)
  check('as an error', mistake.severity == 1, mistake.severity)
  local related = (mistake.relatedInformation or {})[1] or { location = { range = { start = {} } } }
  check('related to the include of ports.xml in main.xml', related.location.uri == uri('main.xml')
    and related.location.range.start.line == 6, mistake.relatedInformation)
  check('none for main.xml', vim.tbl_isempty(published[uri('main.xml')] or { 'none sent' }),
    published)
  local portsBuffer = vim.uri_to_bufnr(ports)
  check('the client holds it for the ports.xml buffer', #vim.diagnostic.get(portsBuffer) == 1,
    vim.diagnostic.get(portsBuffer))

  -- Hover on $(NAME): its value and the define it came from.
  local result, err = request(main, 'textDocument/hover', find(main, '$(NAME)', 2))
  local text = result and result.contents and (result.contents.value or result.contents) or err
  check('hover on $(NAME) shows its value',
    type(text) == 'string' and text:find('sensor-evb2', 1, true), text)
  check('hover on $(NAME) shows where it was defined',
    type(text) == 'string' and text:find('main.xml:3', 1, true), text)
  result, err = request(main, 'textDocument/hover', find(main, 'BOARD="evb2"', 1))
  text = result and result.contents and (result.contents.value or result.contents) or err
  check('hover on an if attribute: the command-line value', type(text) == 'string'
    and text:find('`evb2` from the macro list', 1, true), text)

  -- Definition of an include's filename: the file.
  result, err = request(main, 'textDocument/definition', find(main, 'lib.xml', 2))
  local target = result and (result.uri and result or result[1]) or {}
  check("definition of an include's filename is the file", target.uri == uri('lib.xml'),
    result or err)

  -- ports.xml in a window of its own: definition of an xmlput's name is the xmldef in lib.xml.
  vim.cmd('split ports.xml')
  local portsWindow = vim.api.nvim_get_current_buf()
  check('the same client attaches to ports.xml', attached(portsWindow) and
    clientsOf(portsWindow)[1].id == client.id, clientsOf(portsWindow))
  result, err = request(portsWindow, 'textDocument/definition', find(portsWindow, '"uart"', 2))
  target = result and (result.uri and result or result[1]) or {}
  check("definition of an xmlput's name is its xmldef",
    target.uri == uri('lib.xml') and target.range and target.range.start.line == 1, result or err)

  -- Fixing the mistake in the buffer, unsaved, clears the diagnostic.
  local spi = find(portsWindow, '"spi"', 1)
  published[ports] = nil
  vim.api.nvim_buf_set_text(portsWindow, spi.line, spi.character, spi.line, spi.character + 3,
    { 'uart' })
  vim.wait(10000, function()
    return published[ports] ~= nil
  end, 20)
  check('the fixed buffer has no diagnostic',
    published[ports] and vim.tbl_isempty(published[ports]), published[ports] or 'none sent')

  -- Edits of each shape Neovim sends (a line added, a change after characters of two and four
  -- bytes, a line removed, two lines joined, a line added at the end), then the server's preview
  -- of the unsaved buffers is what the tool writes once they are saved.
  local ending = find(main, '</board>')
  vim.api.nvim_buf_set_lines(main, ending.line, ending.line, false,
    { '  <note v="\u{e9}\u{1F600}$(NAME)"/>' })
  local note = find(main, '\u{1F600}$(NAME)', 4)
  vim.api.nvim_buf_set_text(main, note.line, note.character, note.line, note.character + 7,
    { '$(BOARD)!' })
  local cpu = find(main, '<cpu')
  vim.api.nvim_buf_set_lines(main, cpu.line, cpu.line + 1, false, {})
  local first = vim.api.nvim_buf_get_lines(main, 0, 1, false)[1]
  vim.api.nvim_buf_set_text(main, 0, #first, 1, 2, { ' ' })
  vim.api.nvim_buf_set_lines(main, -1, -1, false, { '<!-- end -->' })
  local preview
  preview, err = request(main, 'xmlpp/preview', nil)
  vim.cmd('silent wall')
  -- The output alone (system() adds standard error): -w leaves out the UTF-8 warning.
  local written = vim.fn.system({ 'xmlpp', '-w', 'main.xml', '-', 'BOARD=evb2' })
  check('the tool ran on the saved files', vim.v.shell_error == 0
    and written:find('<note v="&#xc3;&#xa9;&#xf0;&#x9f;&#x98;&#x80;evb2!"', 1, true)
    and not written:find('<cpu', 1, true), written)
  check("the preview of the edited buffers is the tool's output",
    preview and preview.text == written, { preview = preview or err, written = written })

  -- Two commands make main.xml: the first is used, and hover says which.
  local board = find(main, '$(BOARD)', 2)
  result, err = request(main, 'textDocument/hover', board)
  text = result and result.contents and (result.contents.value or result.contents) or err
  check('hover names the command used, of two', type(text) == 'string' and
    text:find("build's command for `variants/board.xml` (1 of 2", 1, true), text)
  -- :XmlppCommand offers both, the first marked, and the second picked is used from then on.
  local offered
  vim.ui.select = function(items, options, choose)
    offered = vim.tbl_map(options.format_item, items)
    choose(items[2], 2)
  end
  vim.cmd('XmlppCommand')
  vim.wait(10000, function()
    return offered ~= nil
  end, 20)
  check(':XmlppCommand offers both commands', vim.deep_equal(offered, {
    root .. '/variants/board.xml (used)', root .. '/variants/evb1.xml' }), offered)
  for _ = 1, 100 do
    result, err = request(main, 'textDocument/hover', board)
    text = result and result.contents and (result.contents.value or result.contents) or err
    if type(text) == 'string' and text:find('(2 of 2', 1, true) then
      break
    end
    vim.wait(50)
  end
  check('the picked command is used: its macros and its name on hover', type(text) == 'string'
    and text:find('`evb1` from the macro list', 1, true)
    and text:find("build's command for `variants/evb1.xml` (2 of 2", 1, true), text)
end

-- A project without a command database: the editor shows a message saying so.
local function runWithoutDatabase()
  vim.cmd('edit main.xml')
  local main = vim.api.nvim_get_current_buf()
  check('a client attaches to main.xml', attached(main), clientsOf(main))
  vim.wait(10000, function()
    return #messages > 0
  end, 20)
  local shown = messages[1] or {}
  check('the editor is told there is no command database', type(shown.message) == 'string'
    and shown.message:find('no command database (xmlpp_commands.json) in ' .. root, 1, true)
    and shown.type == 2, messages)
end

local ok, err = pcall(vim.env.XMLPP_NEOVIM_CASE == 'no-database' and runWithoutDatabase or run)
check('the script ran to its end', ok, err)
finish()
