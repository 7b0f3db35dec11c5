<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SINTEGRA - Amazonas</title>
<style>
body { font-family: Verdana, sans-serif; font-size: 13px; margin: 1.5em; }
td { padding: 2px 6px; }
</style>
</head>
<body>
<p><a href="/">Secretaria da Fazenda</a> | <a href="/sintegra/ajuda.asp">Ajuda</a> | <a href="/sintegra/convenio.asp">Convênio SINTEGRA</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado do Amazonas</h2>
<form id="consulta" method="get" action="/sintegra/sintegra.asp">
<!-- The server wants its form token first in the query. -->
<input type="hidden" name="hash" value="5e1d9a07c3">
<table>
<tr><td>CNPJ:</td><td><input name="cnpj" size="20" value="23.456.789/0001-10"></td></tr>
<tr><td></td><td><input type="submit" value="Consultar"></td></tr>
</table>
</form>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
