// The till's status page: the registers and today's receipts, read from the service's own API
// like any client's. It polls gently (a few seconds apart, never while the tab is hidden, longer
// apart while the service does not answer) and redraws only what changed, so the keyboard focus
// stays where the operator left it.
'use strict';

(() => {
  const REFRESH_MS = 3000;
  const LONGEST_WAIT_MS = 60000;
  const TOKEN_KEY = 'zelmo-token';

  const OUTCOMES = {
    printed: 'Испечатена',
    'not-printed': 'Не е испечатена',
    unknown: 'Непознат исход',
  };
  const JOB_STATES = { queued: 'Чека на ред', sending: 'Се печати' };
  const REGISTER_STATES = { idle: 'Слободна', busy: 'Печати' };

  const $ = (id) => document.getElementById(id);
  let timer = null;
  let wait = REFRESH_MS;
  let shown = '';
  let known = null;  // job id → what the operator last saw of it, for the announcements
  let afterToken = null;
  let failing = false;

  class Unauthorized extends Error {}
  class ApiError extends Error {
    constructor(status, body) {
      super((body && body.message) || `HTTP ${status}`);
      this.status = status;
    }
  }

  async function api(path, options = {}) {
    const headers = { ...(options.headers || {}) };
    const token = sessionStorage.getItem(TOKEN_KEY);
    if (token) headers.Authorization = `Bearer ${token}`;
    const response = await fetch(path, { ...options, headers, cache: 'no-store' });
    if (response.status === 401) throw new Unauthorized();
    const body = await response.json().catch(() => null);
    if (!response.ok) throw new ApiError(response.status, body);
    return body;
  }

  function el(tag, props = {}, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(props)) {
      if (value === undefined || value === null || value === false) continue;
      if (key === 'class') node.className = value;
      else if (key === 'dataset') Object.assign(node.dataset, value);
      else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
      else node.setAttribute(key, value === true ? '' : value);
    }
    node.append(...children.filter((c) => c !== null && c !== undefined));
    return node;
  }

  const pad = (n) => String(n).padStart(2, '0');
  function clock(iso, seconds = false) {
    if (!iso) return '';
    const t = new Date(iso);
    if (Number.isNaN(t.getTime())) return '';
    const hm = `${pad(t.getHours())}:${pad(t.getMinutes())}`;
    return seconds ? `${hm}:${pad(t.getSeconds())}` : hm;
  }
  function isToday(iso) {
    const t = new Date(iso);
    return t.toDateString() === new Date().toDateString();
  }
  function moment(iso) {
    if (!iso) return '';
    if (isToday(iso)) return clock(iso);
    const t = new Date(iso);
    return `${pad(t.getDate())}.${pad(t.getMonth() + 1)}.${t.getFullYear()} ${clock(iso)}`;
  }
  // Amounts as the till writes them: a decimal comma, thousands apart by a dot.
  function decimal(n, places) {
    const [whole, part] = n.toFixed(places).split('.');
    const grouped = whole.replace(/\B(?=(\d{3})+(?!\d))/g, '.');
    return part === undefined ? grouped : `${grouped},${part}`;
  }
  const amount = (n) => (typeof n === 'number' ? `${decimal(n, 2)} ден.` : '');
  const quantity = (n) => decimal(n, 3).replace(/,?0+$/, '');

  function startOfToday() {
    const t = new Date();
    t.setHours(0, 0, 0, 0);
    return t.toISOString().replace(/\.\d{3}Z$/, 'Z');
  }

  function outcomeText(job) {
    if (job.state !== 'ended') return JOB_STATES[job.state] || job.state;
    return OUTCOMES[job.outcome] || job.outcome || '';
  }
  const outcomeClass = (job) => (job.state === 'ended' ? `outcome-${job.outcome}` : 'outcome-pending');

  // --- drawing -------------------------------------------------------------------------------

  function registerCard(register) {
    const last = register.lastOutcome
      ? `${OUTCOMES[register.lastOutcome] || register.lastOutcome}, ${moment(register.lastEnded)}`
      : 'Нема';
    return el('li', { class: `register state-${register.state}` },
      el('h3', {}, register.name),
      el('dl', {},
        el('dt', {}, 'Уред'), el('dd', {}, register.device || '—'),
        el('dt', {}, 'Состојба'),
        el('dd', {}, el('span', { class: 'badge' }, REGISTER_STATES[register.state] || register.state)),
        el('dt', {}, 'Во ред'), el('dd', {}, String(register.queued ?? 0)),
        el('dt', {}, 'Последна сметка'),
        el('dd', { class: register.lastOutcome ? `outcome-${register.lastOutcome}` : '' }, last)));
  }

  function itemList(job) {
    return el('ul', { class: 'items' }, ...(job.items || []).map((item) =>
      el('li', {}, `${item.name}\u00a0×\u00a0${quantity(item.quantity)}`)));
  }

  function resolveButtons(job) {
    const time = clock(job.created);
    return el('div', { class: 'resolve', role: 'group', 'aria-label': `Сметка од ${time}: дали е испечатена?` },
      el('p', {}, 'Погледнете на касата дали е испечатена.'),
      el('button', {
        type: 'button', class: 'yes', dataset: { focus: `${job.id}:printed` },
        onclick: (e) => resolve(job, true, e.currentTarget),
      }, 'Испечатена'),
      el('button', {
        type: 'button', class: 'no', dataset: { focus: `${job.id}:not-printed` },
        onclick: (e) => resolve(job, false, e.currentTarget),
      }, 'Не е испечатена'));
  }

  function jobRow(job, manyRegisters) {
    const unknown = job.state === 'ended' && job.outcome === 'unknown' && !job.resolved;
    return el('tr', { class: unknown ? 'job unknown' : 'job', tabindex: '-1', dataset: { focus: job.id } },
      el('td', { 'data-label': 'Време' }, el('span', {}, clock(job.created, true))),
      manyRegisters ? el('td', { 'data-label': 'Каса' }, el('span', {}, job.register)) : null,
      el('td', { 'data-label': 'Артикли', class: 'items-cell' }, itemList(job)),
      el('td', { 'data-label': 'Вкупно', class: 'number' }, el('span', {}, amount(job.total))),
      el('td', { 'data-label': 'Исход' },
        el('span', { class: `badge ${outcomeClass(job)}` }, outcomeText(job)),
        job.resolved ? el('span', { class: 'note' }, ' (потврдено на касата)') : null,
        unknown ? resolveButtons(job) : null),
      el('td', { 'data-label': 'Порака', class: 'message' },
        job.message ? el('span', {}, job.message) : null));
  }

  function draw(registers, jobs) {
    const focused = document.activeElement && document.activeElement.dataset
      ? document.activeElement.dataset.focus : undefined;
    const manyRegisters = registers.length > 1;
    $('registers').replaceChildren(...registers.map(registerCard));
    document.body.classList.toggle('many-registers', manyRegisters);
    $('job-rows').replaceChildren(...jobs.map((job) => jobRow(job, manyRegisters)));
    $('jobs').hidden = jobs.length === 0;
    $('no-jobs').hidden = jobs.length !== 0;
    if (focused) {
      const again = document.querySelector(`[data-focus="${CSS.escape(focused)}"]`);
      if (again) again.focus();
    }
  }

  // Tells a screen reader what changed since the last look: a receipt that ended, one to check.
  function announceChanges(jobs) {
    const now = new Map(jobs.map((job) => [job.id, `${job.state}/${job.outcome}/${job.resolved}`]));
    if (known) {
      const news = [];
      for (const job of jobs) {
        if (known.get(job.id) === now.get(job.id) || job.state !== 'ended') continue;
        if (job.outcome === 'unknown' && !job.resolved) {
          news.push(`Сметката од ${clock(job.created)} има непознат исход: проверете ја касата.`);
        } else {
          news.push(`Сметката од ${clock(job.created)}: ${outcomeText(job).toLowerCase()}.`);
        }
      }
      if (news.length) announce(news.slice(0, 3).join(' '));
    }
    known = now;
  }

  function announce(text) {
    $('announce').textContent = text;
  }

  // --- refreshing ----------------------------------------------------------------------------

  function schedule(ms) {
    clearTimeout(timer);
    timer = document.hidden ? null : setTimeout(refresh, ms);
  }

  async function refresh() {
    clearTimeout(timer);
    timer = null;
    try {
      const { registers } = await api('/v1/registers');
      const since = encodeURIComponent(startOfToday());
      const lists = await Promise.all(registers.map((r) =>
        api(`/v1/jobs?register=${encodeURIComponent(r.name)}&since=${since}`)));
      const jobs = lists.flatMap((list) => list.jobs)
        .sort((a, b) => (b.created || '').localeCompare(a.created || '') || (b.id > a.id ? 1 : -1));
      const picture = JSON.stringify([registers, jobs]);
      if (picture !== shown) {
        draw(registers, jobs);
        announceChanges(jobs);
        shown = picture;
      }
      $('connection').textContent = `Освежено во ${clock(new Date().toISOString(), true)}`;
      $('connection').className = 'connection';
      if (failing) announce('Услугата повторно одговара.');
      failing = false;
      wait = REFRESH_MS;
    } catch (error) {
      if (error instanceof Unauthorized) {
        askToken(refresh);
        return;
      }
      wait = Math.min(wait * 2, LONGEST_WAIT_MS);
      $('connection').textContent =
        `Услугата не одговара. Нов обид за ${Math.round(wait / 1000)} с.`;
      $('connection').className = 'connection error';
      if (!failing) announce('Услугата не одговара.');
      failing = true;
    }
    schedule(wait);
  }

  async function resolve(job, printed, button) {
    const group = button.closest('.resolve');
    group.querySelectorAll('button').forEach((b) => { b.disabled = true; });
    try {
      await api(`/v1/jobs/${encodeURIComponent(job.id)}/resolve`, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ printed }),
      });
      shown = '';
      await refresh();
      // Said after the redraw, so that it is not taken over by the redraw's own news.
      announce(`Сметката од ${clock(job.created)} е запишана како ${printed ? 'испечатена' : 'неиспечатена'}.`);
      const row = document.querySelector(`tr[data-focus="${CSS.escape(job.id)}"]`);
      (row || $('jobs-title')).focus();
    } catch (error) {
      group.querySelectorAll('button').forEach((b) => { b.disabled = false; });
      if (error instanceof Unauthorized) {
        askToken(() => resolve(job, printed, button));
        return;
      }
      if (error instanceof ApiError && error.status === 409) {
        // Someone answered it already, here or elsewhere: show what the service holds now.
        shown = '';
        refresh();
        return;
      }
      announce(`Одговорот не е запишан: ${error.message}`);
    }
  }

  // --- the token ------------------------------------------------------------------------------

  function askToken(then) {
    const hadToken = sessionStorage.getItem(TOKEN_KEY) !== null;
    sessionStorage.removeItem(TOKEN_KEY);
    afterToken = then;
    $('token-reason').textContent = hadToken
      ? 'Токенот не е прифатен. Внесете го повторно.'
      : 'Услугата бара токен за пристап.';
    $('token-form').hidden = false;
    $('connection').textContent = 'Потребен е токен.';
    $('connection').className = 'connection error';
    $('token-input').focus();
  }

  $('token-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const token = $('token-input').value.trim();
    if (!token) return;
    sessionStorage.setItem(TOKEN_KEY, token);
    $('token-input').value = '';
    $('token-form').hidden = true;
    const then = afterToken;
    afterToken = null;
    if (then && then !== refresh) then();
    refresh();
  });
  $('token-cancel').addEventListener('click', () => {
    $('token-form').hidden = true;
    afterToken = null;
    schedule(LONGEST_WAIT_MS);
  });

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) {
      clearTimeout(timer);
      timer = null;
    } else {
      refresh();
    }
  });

  refresh();
})();
